// The three flash libraries that come with Sealbench, as the download buffer
// takes them: the flash library area from its offset 0, that is 0x4000 zero
// bytes (no HWC, no CSF) followed by the code, which starts at the library's
// entry point. They are built from flashlib/src for the boards in DATASHEET.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace flashlib {

enum class BuiltinLibrary { NorVireoC, NorVireoB, NandVireoC };

inline constexpr size_t kCodeOffset = 0x4000;            // entry point, RAM base + 0x4000
inline constexpr size_t kParameterBlockOffset = 0xFFE0;  // the code stays below this

std::span<const uint8_t> BuiltinFlashLibrary(BuiltinLibrary which);

}  // namespace flashlib
