// What each Vireo processor type fixes for the board: where its RAM starts, the
// processor code its register writes carry, and the serial line its boot ROM
// expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/program.h"

namespace vsim {

inline constexpr uint32_t kRamSize = 64u << 20;
inline constexpr uint32_t kLineBaud = 115200;
// The chip's unique ID (its fuse words), readable by the boot ROM's read memory.
inline constexpr size_t kUniqueIdSize = 64;

struct CpuTraits {
    std::string_view name;
    uint32_t ramBase;
    uint8_t processorCode;
    unsigned stopBits;      // the boot ROM's line: 1 (8N1) or 2 (8O2)
    unsigned bitsPerByte;   // start bit, 8 data bits, parity, stop bits
    uint32_t uniqueIdBase;  // the unique-ID block (4 KiB, read-only; the ID in its first 64 bytes)
};

const CpuTraits& TraitsOf(Cpu cpu);
std::optional<Cpu> ParseCpu(std::string_view name);

}  // namespace vsim
