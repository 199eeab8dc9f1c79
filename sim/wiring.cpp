#include "wiring.h"

#include "flash/board_flash.h"
#if defined(VSIM_HAVE_PROGRAMS)
#include "programs/programs.h"
#endif

namespace vsim {

std::unique_ptr<BoardFlash> MakeFlashFor([[maybe_unused]] Cpu cpu) {
#if defined(VSIM_HAVE_FLASH)
    return MakeBoardFlash(cpu);
#else
    return nullptr;
#endif
}

bool MakeProgramsFor(const std::string& mode, ProgramFactory* factory) {
    if (mode != "emulate" && mode != "model") return false;
#if defined(VSIM_HAVE_PROGRAMS)
    *factory = mode == "model" ? MakeNativeProgramFactory() : MakeEmulatedProgramFactory();
#else
    *factory = nullptr;
#endif
    return true;
}

}  // namespace vsim
