#include "core/cpu.h"

#include <array>

namespace vsim {

namespace {

constexpr std::array<CpuTraits, 3> kTraits = {{
    {"VireoB", 0xA0000000, 1, 1, 10, 0xD800C000},
    {"VireoC_TO1", 0x80000000, 0, 2, 12, 0xB800C000},
    {"VireoC_TO2", 0x80000000, 0, 1, 10, 0xB800C000},
}};

}  // namespace

const CpuTraits& TraitsOf(Cpu cpu) { return kTraits.at(static_cast<size_t>(cpu)); }

std::optional<Cpu> ParseCpu(std::string_view name) {
    for (size_t i = 0; i < kTraits.size(); ++i) {
        if (kTraits[i].name == name) return static_cast<Cpu>(i);
    }
    return std::nullopt;
}

}  // namespace vsim
