#include "common/address_text.h"

namespace sealbench {
namespace {

int DigitAt(std::string_view text, size_t position) {
    return position < text.size() ? HexDigitValue(text[position]) : 0;
}

}  // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return 0;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

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
