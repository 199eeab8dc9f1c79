#include "station/identity.h"

#include <cstdio>
#include <vector>

#include "common/hex_text.h"
#include "station/text_forms.h"

namespace sealbench {

Result<IdentitySpec> ParseIdentitySpec(std::string_view text) {
    Result<IdentitySpec> result;
    const size_t colon = text.find(':');
    const auto address = colon == std::string_view::npos ? std::nullopt : ParseHexStrict(text.substr(0, colon));
    const auto length = colon == std::string_view::npos ? std::nullopt : ParseHexStrict(text.substr(colon + 1));
    if (!address || !length || *length == 0 || *length > kMaxIdentityBytes) {
        char most[16];
        std::snprintf(most, sizeof most, "%zX", kMaxIdentityBytes);
        result.outcome =
            Outcome::Failure(FailureKind::Input, "bad --identity \"" + std::string(text) +
                                                     "\": expected ADDRESS:LENGTH in HEX, LENGTH 1 to " + most + " (" +
                                                     std::to_string(kMaxIdentityBytes) + " bytes), as in B800C000:10");
        return result;
    }
    if (uint64_t{*address} + *length > (uint64_t{1} << 32)) {
        result.outcome = Outcome::Failure(FailureKind::Input,
                                          "bad --identity \"" + std::string(text) + "\": it runs past 0xFFFFFFFF");
        return result;
    }
    result.value = {*address, static_cast<size_t>(*length)};
    return result;
}

Result<std::string> ReadIdentity(bootwire::Link& link, const IdentitySpec& spec) {
    Result<std::string> result;
    std::vector<uint8_t> bytes(spec.length);
    // Fuse words answer best to reads of their own width.
    const bool words = spec.address % 4 == 0 && spec.length % 4 == 0;
    const bool halves = spec.address % 2 == 0 && spec.length % 2 == 0;
    const uint8_t format = words ? 32 : halves ? 16 : 8;
    if (bootwire::Error e = link.ReadData(spec.address, bytes.data(), bytes.size(), format); e != bootwire::Error::Ok) {
        char where[16];
        std::snprintf(where, sizeof where, "0x%08X", static_cast<unsigned>(spec.address));
        result.outcome = Outcome::Failure(
            FailureKind::Target, "cannot read the identity at " + std::string(where) + ": " + link.ErrorDetail(), {},
            bootwire::ErrorName(e));
        return result;
    }
    result.value = LowerHex(bytes);
    return result;
}

std::string ChooseIdentity(std::string_view readHex, std::string_view usbSerial, std::string_view place) {
    if (!readHex.empty()) return std::string(readHex);
    if (!usbSerial.empty()) return std::string(usbSerial);
    return std::string(place);
}

}  // namespace sealbench
