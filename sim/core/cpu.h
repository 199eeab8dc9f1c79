// What each Vireo processor type fixes for the board: where its RAM starts, the
// processor code its register writes carry, and the serial line its boot ROM
// expects.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/program.h"

namespace vsim {

inline constexpr uint32_t kRamSize = 64u << 20;
inline constexpr uint32_t kLineBaud = 115200;

struct CpuTraits {
    std::string_view name;
    uint32_t ramBase;
    uint8_t processorCode;
    unsigned stopBits;     // the boot ROM's line: 1 (8N1) or 2 (8O2)
    unsigned bitsPerByte;  // start bit, 8 data bits, parity, stop bits
};

const CpuTraits& TraitsOf(Cpu cpu);
std::optional<Cpu> ParseCpu(std::string_view name);

}  // namespace vsim
