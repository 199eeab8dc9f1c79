// HexTextToValue and the decimal option fields take whatever the user typed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "convert/srecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    uint32_t value = sealbench::HexTextToValue(text);
    // Every character shifts by four bits, so only the last eight can matter.
    if (text.size() > 8 && value != sealbench::HexTextToValue(text.substr(text.size() - 8))) {
        std::abort();
    }
    if (auto number = sealbench::DecimalTextToValue(text)) {
        if (*number > 1000000000LL || *number < -1000000000LL) {
            std::abort();
        }
    }
    return 0;
}
