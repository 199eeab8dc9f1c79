// The flash libraries built into the program: NOR for VireoC, NOR for VireoB and
// NAND for VireoC, each an image of target RAM from the RAM base whose code starts
// at 0x4000.
#pragma once

#include <cstddef>
#include <cstdint>

#include "download/plan/presets.h"

namespace sealbench {

// Whether this build carries the built-in libraries at all.
bool HaveBuiltinFlashLibraries();

// Copies the built-in library of the processor and flash type to dest (at most
// `capacity` bytes) and returns its size; 0 when there is none.
size_t CopyBuiltinFlashLibrary(ProcessorType processor, FlashType flashType, uint8_t* dest, size_t capacity);

}  // namespace sealbench
