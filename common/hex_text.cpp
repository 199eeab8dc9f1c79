#include "common/hex_text.h"

#include <algorithm>

namespace sealbench {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool IsHexDigit(char c) { return HexDigit(c) >= 0; }

int HexDigitValue(char c) { return std::max(HexDigit(c), 0); }

std::optional<uint32_t> ReadHexField(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
        ++at;
    }
    if (at + 2 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X') &&
        IsHexDigit(text[at + 2])) {
        at += 2;
    }
    // The page's field holds nine characters, of which "%08x" reads eight digits:
    // a ninth digit is not read, a tenth cannot have been typed there.
    uint32_t value = 0;
    int digits = 0;
    for (; at < text.size() && IsHexDigit(text[at]); ++at) {
        if (++digits > 9) {
            return std::nullopt;
        }
        if (digits <= 8) {
            value = value << 4 | static_cast<uint32_t>(HexDigit(text[at]));
        }
    }
    return value;
}

std::optional<uint32_t> ParseHexStrict(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

std::optional<uint32_t> ParseHexAfterX(std::string_view field) {
    size_t x = field.find('x');
    if (x == std::string_view::npos || x + 1 == field.size()) {
        return std::nullopt;
    }
    std::string_view digits = field.substr(x + 1);
    uint32_t value = 0;
    for (size_t i = 0; i < digits.size(); ++i) {
        int digit = HexDigit(digits[i]);
        if (digit < 0) {
            return std::nullopt;
        }
        if (i < 8) {
            value = value << 4 | static_cast<uint32_t>(digit);
        }
    }
    return value;
}

uint32_t HexTextToValue(std::string_view text) {
    uint32_t value = 0;
    for (char c : text) {
        value = value * 16 + static_cast<uint32_t>(HexDigitValue(c));
    }
    return value;
}

std::optional<long long> DecimalTextToValue(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        // Anything this large is clamped anyway; stop before it overflows.
        value = std::min(value * 10 + (text[i] - '0'), 1000000000LL);
    }
    return negative ? -value : value;
}

}  // namespace sealbench
