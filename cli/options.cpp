#include "options.h"

namespace sealbench::cli {

std::optional<uint32_t> ParseHex(const std::string& text) {
    std::string_view digits = text;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
    }
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : digits) {
        int nibble;
        if (c >= '0' && c <= '9') {
            nibble = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            nibble = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            nibble = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<uint32_t>(nibble);
    }
    return value;
}

CLI::Validator HexValue() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return ParseHex(text) ? std::string() : "not a hexadecimal value of 1 to 8 digits: " + text;
        },
        "HEX");
}

}  // namespace sealbench::cli
