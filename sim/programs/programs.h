// The programs a virtual board runs after its boot ROM has loaded an application.
//
// Emulated: the loaded bytes run instruction by instruction on an emulated ARM926
// (ARMv5TE) core, with the board's RAM, flash devices, UART, USB FIFO and system
// control on its bus as flashlib/DATASHEET.md describes. Any program runs this way,
// a user's own flash library included.
//
// Native: the built-in flash library's core compiled for the host drives the same
// bus; much faster, for tests and scripted runs. Only a program entered at
// RAM base + 0x4000 is taken for a flash library; any other entry runs emulated.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/program.h"

namespace vsim {

// Filled in by emulated programs when given to the factory (for benchmarks):
// counting slows the emulation down.
struct EmulationStats {
    std::atomic<uint64_t> instructions{0};
};

ProgramFactory MakeEmulatedProgramFactory(std::shared_ptr<EmulationStats> stats = nullptr);
ProgramFactory MakeNativeProgramFactory();

}  // namespace vsim
