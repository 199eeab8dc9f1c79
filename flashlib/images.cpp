#include "flashlib/images.h"

namespace flashlib::detail {
extern const uint8_t kNorVireoC[];
extern const size_t kNorVireoCSize;
extern const uint8_t kNorVireoB[];
extern const size_t kNorVireoBSize;
extern const uint8_t kNandVireoC[];
extern const size_t kNandVireoCSize;
}  // namespace flashlib::detail

namespace flashlib {

std::span<const uint8_t> BuiltinFlashLibrary(BuiltinLibrary which) {
    switch (which) {
        case BuiltinLibrary::NorVireoB:
            return {detail::kNorVireoB, detail::kNorVireoBSize};
        case BuiltinLibrary::NandVireoC:
            return {detail::kNandVireoC, detail::kNandVireoCSize};
        case BuiltinLibrary::NorVireoC:
            break;
    }
    return {detail::kNorVireoC, detail::kNorVireoCSize};
}

}  // namespace flashlib
