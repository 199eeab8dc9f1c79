// Which flash models and programs this build of vireo-sim has. The flash models
// and the programs live in their own libraries; a build without them still serves
// the boot ROM, with a started image simply keeping the board busy.
#pragma once

#include <memory>
#include <string>

#include "core/program.h"

namespace vsim {

class BoardFlash;

// The board's flash for a processor type; null when the build has no flash models.
std::unique_ptr<BoardFlash> MakeFlashFor(Cpu cpu);

// The programs a load starts: "emulate" runs the loaded code on an emulated core,
// "model" runs a native model of the flash library. Empty factory when the build has
// no programs; false when the mode is not one of the two.
bool MakeProgramsFor(const std::string& mode, ProgramFactory* factory);

}  // namespace vsim
