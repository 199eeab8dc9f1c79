// The HWC export over arbitrary record texts: records separated by '\n', address
// and data by ':'. Checks the file image that the export would write.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/address_text.h"
#include "hwc/hwc_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    sealbench::HwcExport hwc("unused");
    std::string accepted;
    int index = 0;
    while (!input.empty()) {
        size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        size_t colon = line.find(':');
        std::string_view address = line.substr(0, colon);
        std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
        if (auto added = sealbench::MakeHwcRecord(address, value); added.record) {
            if (added.record->address.size() != 8 || added.record->data.size() != 8) {
                std::abort();
            }
        }
        bool valid = sealbench::IsAddressText(address) && sealbench::IsAddressText(value);
        auto refusal = hwc.AppendHwcRecord(index++, address, value);
        if (valid != !refusal && !(valid && refusal == sealbench::kMsgHwcTooBig)) {
            std::abort();
        }
        if (!refusal) {
            accepted.append(address).append(value);
        }
    }
    auto bytes = hwc.Bytes();
    if (bytes.size() != 4 + accepted.size() / 2 || bytes.size() > sealbench::kMaxHwcByteCount) {
        std::abort();
    }
    uint32_t count = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    if (count != bytes.size()) {
        std::abort();
    }
    for (size_t word = 0; word < accepted.size() / 8; ++word) {
        auto expected = sealbench::AddressToBytes(std::string_view(accepted).substr(8 * word, 8));
        for (size_t i = 0; i < 4; ++i) {
            if (bytes[4 + 4 * word + i] != expected[i]) {
                std::abort();
            }
        }
    }
    return 0;
}
