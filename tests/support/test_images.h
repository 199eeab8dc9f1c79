// Images for flashing tests and benchmarks: real ARM code (the object files of
// the arm-none-eabi toolchain's C library, one after the other), which
// compresses as firmware does, and pseudo-random bytes, which do not compress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sealtest {

// `size` bytes of ARM object code; empty when the toolchain's libc.a cannot be read.
std::vector<uint8_t> ArmCodeImage(size_t size);

// `size` pseudo-random bytes, the same for the same seed.
std::vector<uint8_t> NoiseImage(size_t size, uint32_t seed = 1);

}  // namespace sealtest
