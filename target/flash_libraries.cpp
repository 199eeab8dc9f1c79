#include "flash_libraries.h"

namespace sealbench {

bool HaveBuiltinFlashLibraries() { return false; }

size_t CopyBuiltinFlashLibrary(ProcessorType, FlashType, uint8_t*, size_t) { return 0; }

}  // namespace sealbench
