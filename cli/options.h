// Value parsers shared by sealbench-cli's commands.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>

namespace sealbench::cli {

// An optional 0x/0X prefix and 1 to 8 hexadecimal digits; nothing else.
std::optional<uint32_t> ParseHex(const std::string& text);

// A CLI11 validator for ParseHex's form.
CLI::Validator HexValue();

}  // namespace sealbench::cli
