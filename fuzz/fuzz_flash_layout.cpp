// Feeds arbitrary text to the flash layout parser as a NOR and a NAND layout: it
// must never crash, and a layout it accepts must hold images that name a file and,
// placed with sizes drawn from the input, never overlap or leave the flash when
// the placement check accepts them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "download/plan/flash_layout.h"

namespace {

void Check(std::string_view text, sealbench::FlashType type, const uint8_t* data, size_t size) {
    sealbench::Result<sealbench::FlashLayout> layout = sealbench::ParseLayout(text, "fuzz.toml", "/l", type);
    if (!layout.Ok()) {
        if (layout.outcome.message.rfind("fuzz.toml:", 0) != 0) std::abort();  // a refusal names its line
        return;
    }
    if (layout.value.images.empty()) std::abort();
    for (size_t i = 0; i < layout.value.images.size(); ++i) {
        sealbench::LayoutImage& image = layout.value.images[i];
        if (image.file.empty() || image.line < 1) std::abort();
        image.size = size == 0 ? 1 : 1 + (data[i % size] << 12);
    }
    if (!sealbench::CheckPlacement(layout.value, "fuzz.toml", type).Ok()) return;
    const bool nand = type == sealbench::FlashType::Nand;
    const auto& images = layout.value.images;
    for (size_t i = 0; i < images.size(); ++i) {
        const uint64_t end = images[i].offset + uint64_t{nand ? images[i].partitionSize : images[i].size};
        if (end > (nand ? sealbench::kNandFlashSize : sealbench::kNorFlashSize)) std::abort();
        for (size_t j = 0; j < i; ++j) {
            const uint64_t other = images[j].offset + uint64_t{nand ? images[j].partitionSize : images[j].size};
            if (images[i].offset < other && images[j].offset < end) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Check(text, sealbench::FlashType::Nor, data, size);
    Check(text, sealbench::FlashType::Nand, data, size);
    return 0;
}
