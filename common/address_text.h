// Address texts as the build and HWC pages hold them: eight hexadecimal digits,
// most significant first, no prefix. Their bytes go into combined images and HWC
// files as little-endian words.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/hex_text.h"

namespace sealbench {

// True when the text is exactly eight hexadecimal digits.
bool IsAddressText(std::string_view text);

// The word of an address text, least significant byte first. Characters missing
// from a short text count as 0, so a malformed text never reads past its end.
std::array<uint8_t, 4> AddressToBytes(std::string_view text);

// Characters 4 to 7 as a 16-bit value: the position inside the 64 KB window.
uint32_t AddressOffset(std::string_view text);

}  // namespace sealbench
