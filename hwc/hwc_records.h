// HWC files: the register writes the boot ROM performs before it runs an image.
// A file is a little-endian byte count (the whole file's length, itself included)
// followed by one address word and one data word per record. Records are held as
// eight-digit texts, the way the HWC page's grid shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"

namespace sealbench {

inline constexpr std::string_view kMsgHwcFieldsIncomplete = "Please Complete the fields for adding record to config";
inline constexpr std::string_view kMsgHwcTooLong = "Data and Address should be within 8 digits";
inline constexpr std::string_view kMsgHwcNoTarget = "Please Enter target location";
inline constexpr std::string_view kMsgHwcNoRecords = "No Config Content found";
inline constexpr std::string_view kMsgHwcNotEightDigits = "addr or data not 8 digits";
inline constexpr std::string_view kMsgHwcAddressNotHex = "addr is not in Hex format";
inline constexpr std::string_view kMsgHwcDataNotHex = "data is not in Hex format";
inline constexpr std::string_view kMsgHwcTooBig = "ByteCount > (0x4000-0x1200)";
inline constexpr std::string_view kMsgHwcExported = "HW Config Exported successfully";
inline constexpr std::string_view kMsgHwcNothingExported =
    "No record could be exported: the HW Config file was not written";

// The largest byte count an HWC file may have: the room between the CSF's
// default place and the image in a combined file.
inline constexpr uint32_t kMaxHwcByteCount = 0x4000 - 0x1200;

struct HwcRecord {
    std::string address;
    std::string data;
};

// "Add Record": both texts present and at most eight characters; the record
// padded with leading zeros, or the refusal. Characters are not checked here.
struct HwcAddResult {
    std::optional<HwcRecord> record;
    std::string_view refusal;
};
HwcAddResult MakeHwcRecord(std::string_view address, std::string_view data);

// The export's test of one record: the refusal message, or nullopt when valid.
std::optional<std::string_view> CheckHwcRecord(std::string_view address, std::string_view data);

// An HWC export in progress. Records are validated and collected one by one;
// Finish writes the file whole, holding every accepted record, or leaves the
// target untouched when no record was accepted or the write failed.
class HwcExport {
public:
    explicit HwcExport(std::string target);

    // Validates record `index` and keeps it when valid; returns the refusal.
    std::optional<std::string_view> AppendHwcRecord(int index, std::string_view address, std::string_view data);

    int Accepted() const { return static_cast<int>(words_.size() / 2); }

    // The file's bytes as they stand: byte count, then the accepted records.
    std::vector<uint8_t> Bytes() const;

    // Writes the file when at least one record was accepted; a failure's message
    // is the reason.
    Outcome Finish() const;

private:
    std::string target_;
    std::vector<std::string> words_;
};

// A record the export refused: its place in the list and why.
struct HwcRefusal {
    int index;
    std::string message;
};

// "Export" from the target field and the records: checks, each record, the file.
// Success means the target now holds the accepted records; the message is the
// closing message either way, and the value lists the refused records in order.
Result<std::vector<HwcRefusal>> ExportHwc(const std::string& target, const std::vector<HwcRecord>& records);

}  // namespace sealbench
