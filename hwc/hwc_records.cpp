#include "hwc/hwc_records.h"

#include "common/address_text.h"
#include "common/atomic_file.h"

namespace sealbench {
namespace {

constexpr size_t kRecordTextLength = 8;

std::string PadToEight(std::string_view text) {
    std::string padded(text.size() < kRecordTextLength ? kRecordTextLength - text.size() : 0, '0');
    padded += text;
    return padded;
}

void PutWord(std::vector<uint8_t>& bytes, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(word >> shift));
    }
}

}  // namespace

HwcAddResult MakeHwcRecord(std::string_view address, std::string_view data) {
    if (address.empty() || data.empty()) {
        return {std::nullopt, kMsgHwcFieldsIncomplete};
    }
    if (address.size() > kRecordTextLength || data.size() > kRecordTextLength) {
        return {std::nullopt, kMsgHwcTooLong};
    }
    return {HwcRecord{PadToEight(address), PadToEight(data)}, {}};
}

std::optional<std::string_view> CheckHwcRecord(std::string_view address, std::string_view data) {
    if (address.size() != kRecordTextLength || data.size() != kRecordTextLength) {
        return kMsgHwcNotEightDigits;
    }
    for (size_t i = 0; i < kRecordTextLength; ++i) {
        if (!IsHexDigit(address[i])) {
            return kMsgHwcAddressNotHex;
        }
        if (!IsHexDigit(data[i])) {
            return kMsgHwcDataNotHex;
        }
    }
    return std::nullopt;
}

HwcExport::HwcExport(std::string target) : target_(std::move(target)) {}

std::optional<std::string_view> HwcExport::AppendHwcRecord(int, std::string_view address, std::string_view data) {
    if (auto refusal = CheckHwcRecord(address, data)) {
        return refusal;
    }
    // A combined image has no room for a longer HWC; such a file would overrun
    // the CSF, so the records beyond the limit are refused rather than written.
    if (4 + 8 * (words_.size() / 2 + 1) > kMaxHwcByteCount) {
        return kMsgHwcTooBig;
    }
    words_.emplace_back(address);
    words_.emplace_back(data);
    return std::nullopt;
}

std::vector<uint8_t> HwcExport::Bytes() const {
    std::vector<uint8_t> bytes;
    bytes.reserve(4 + 4 * words_.size());
    PutWord(bytes, static_cast<uint32_t>(4 + 4 * words_.size()));
    for (const std::string& word : words_) {
        auto wordBytes = AddressToBytes(word);
        bytes.insert(bytes.end(), wordBytes.begin(), wordBytes.end());
    }
    return bytes;
}

Outcome HwcExport::Finish() const {
    if (words_.empty()) {
        return Outcome::Failure(FailureKind::Input, std::string(kMsgHwcNothingExported));
    }
    return WriteFileAtomically(target_, Bytes());
}

Result<std::vector<HwcRefusal>> ExportHwc(const std::string& target, const std::vector<HwcRecord>& records) {
    Result<std::vector<HwcRefusal>> result;
    if (target.empty()) {
        result.outcome = Outcome::Failure(FailureKind::Input, std::string(kMsgHwcNoTarget));
        return result;
    }
    if (records.empty()) {
        result.outcome = Outcome::Failure(FailureKind::Input, std::string(kMsgHwcNoRecords));
        return result;
    }
    HwcExport hwc(target);
    for (size_t k = 0; k < records.size(); ++k) {
        if (auto refusal = hwc.AppendHwcRecord(static_cast<int>(k), records[k].address, records[k].data)) {
            result.value.push_back({static_cast<int>(k), std::string(*refusal)});
        }
    }
    result.outcome = hwc.Finish();
    if (result.outcome.Ok()) {
        result.outcome.message = kMsgHwcExported;
    }
    return result;
}

}  // namespace sealbench
