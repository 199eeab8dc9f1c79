// One emulated program, for the native factory's fallback.
#pragma once

#include <memory>

#include "core/program.h"
#include "programs/programs.h"

namespace vsim {

std::unique_ptr<Program> MakeEmulatedProgram(const ProgramContext& context, std::shared_ptr<EmulationStats> stats);

}  // namespace vsim
