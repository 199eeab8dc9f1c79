// Every number field reader takes whatever the user typed: a page's "%08x" field,
// the command line's strict form, a script's "0x" field, the S-record page's
// shift-in reading and the decimal option fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/hex_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sealbench;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    uint32_t value = HexTextToValue(text);
    // Every character shifts by four bits, so only the last eight can matter.
    if (text.size() > 8 && value != HexTextToValue(text.substr(text.size() - 8))) {
        std::abort();
    }
    if (auto number = DecimalTextToValue(text)) {
        if (*number > 1000000000LL || *number < -1000000000LL) {
            std::abort();
        }
    }
    // The strict form is a subset of the page's field: both must read it alike.
    if (auto strict = ParseHexStrict(text)) {
        auto field = ReadHexField(text);
        if (!field || *field != *strict) {
            std::abort();
        }
    }
    (void)ParseHexAfterX(text);
    return 0;
}
