// What a board runs when it starts without the boot-mode pin: the firmware in its
// flash. The virtual board does not run that code; it plays a firmware's console
// instead, so that a host sees what it would see on a real board out of download
// mode: a banner when it boots, then a shell that echoes what it is sent. The boot
// ROM does not answer.
#pragma once

#include <memory>

#include "core/program.h"

namespace vsim {

std::unique_ptr<Program> MakeConsoleFirmware(const ProgramContext& context);

}  // namespace vsim
