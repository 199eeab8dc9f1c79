#include "common/address_text.h"

namespace sealbench {
namespace {

int DigitAt(std::string_view text, size_t position) {
    return position < text.size() ? HexDigitValue(text[position]) : 0;
}

}  // namespace

bool IsAddressText(std::string_view text) {
    if (text.size() != 8) {
        return false;
    }
    for (char c : text) {
        if (!IsHexDigit(c)) {
            return false;
        }
    }
    return true;
}

std::array<uint8_t, 4> AddressToBytes(std::string_view text) {
    std::array<uint8_t, 4> bytes{};
    for (size_t i = 0; i < 4; ++i) {
        size_t first = 6 - 2 * i;
        bytes[i] = static_cast<uint8_t>(16 * DigitAt(text, first) + DigitAt(text, first + 1));
    }
    return bytes;
}

uint32_t AddressOffset(std::string_view text) {
    return static_cast<uint32_t>(4096 * DigitAt(text, 4) + 256 * DigitAt(text, 5) + 16 * DigitAt(text, 6) +
                                 DigitAt(text, 7));
}

}  // namespace sealbench
