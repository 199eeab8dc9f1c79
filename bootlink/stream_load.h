// What Link::StreamFlash and the sessions of ranges share of loading a flash
// library in streaming mode. Internal to Bootwire.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace bootwire::stream {

// A copy of the caller's parameter block that asks for streaming; with
// `imageSize`, the image size word says it (0: the session names no image).
std::vector<uint8_t> StreamParameterBlock(std::span<const uint8_t> given, std::optional<uint32_t> imageSize = {});

double SecondsSince(std::chrono::steady_clock::time_point from);

}  // namespace bootwire::stream
