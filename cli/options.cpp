#include "options.h"

namespace sealbench::cli {

CLI::Validator HexValue() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return ParseHexStrict(text) ? std::string() : "not a hexadecimal value of 1 to 8 digits: " + text;
        },
        "HEX");
}

}  // namespace sealbench::cli
