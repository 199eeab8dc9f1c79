#include "download/plan/flash_libraries.h"

#include <cstring>

#if SEALBENCH_HAVE_FLASHLIB
#include "flashlib/images.h"
#endif

namespace sealbench {

#if SEALBENCH_HAVE_FLASHLIB

bool HaveBuiltinFlashLibraries() { return true; }

size_t CopyBuiltinFlashLibrary(ProcessorType processor, FlashType flashType, uint8_t* dest, size_t capacity) {
    std::span<const uint8_t> image;
    if (flashType == FlashType::Nor) {
        image = flashlib::BuiltinFlashLibrary(processor == ProcessorType::VireoB ? flashlib::BuiltinLibrary::NorVireoB
                                                                                 : flashlib::BuiltinLibrary::NorVireoC);
    } else if (flashType == FlashType::Nand && processor != ProcessorType::VireoB) {
        image = flashlib::BuiltinFlashLibrary(flashlib::BuiltinLibrary::NandVireoC);
    }
    if (image.empty() || image.size() > capacity) {
        return 0;
    }
    std::memcpy(dest, image.data(), image.size());
    return image.size();
}

#else

bool HaveBuiltinFlashLibraries() { return false; }

size_t CopyBuiltinFlashLibrary(ProcessorType, FlashType, uint8_t*, size_t) { return 0; }

#endif

}  // namespace sealbench
