// Binary to S-record conversion. A conversion runs from one option record that
// the page (or the command line) fills and that persists between conversions:
// a raised address width and a cleared header-and-footer flag stay as they are.
// The converter streams: it holds a fixed buffer whatever the input's size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex_text.h"
#include "common/outcome.h"

namespace sealbench {

inline constexpr std::string_view kMsgConvertFinished = "Convertion finished!";
inline constexpr int kMinLineLength = 8;
inline constexpr int kMaxLineLength = 32;
inline constexpr int kMinAddressBytes = 2;
inline constexpr int kMaxAddressBytes = 4;

struct SRecordOptions {
    std::string inputPath;
    std::string outputPath;
    uint32_t offset = 0;
    uint32_t begin = 0;
    uint32_t end = 0;
    int addressBytes = kMinAddressBytes;  // 2: S1/S9, 3: S2/S8, 4: S3/S7
    bool headerAndFooter = true;
    bool verbose = false;
    int lineLength = kMaxLineLength;  // data bytes per record
};

// The fields of one "Convert"; an absent value is a field that reads "DEFAULT".
struct SRecordRequest {
    std::string inputPath;
    std::string outputPath;
    std::optional<uint32_t> begin;
    std::optional<uint32_t> offset;
    std::optional<long long> lineLength;  // clamped to 8..32
    std::optional<uint32_t> end;
    std::optional<long long> addressSize;  // clamped to 2..4
    bool suppressHeaderAndFooter = false;
    // Called with the output path just before the output file is created.
    std::function<void(const std::string&)> beforeWriting;
};

// What a conversion told its user. The outcome beside it succeeds when the output
// file was written and is complete.
struct SRecordReport {
    bool warned = false;  // begin or end were outside the file: no data records
    int dataRecords = 0;
    std::vector<std::string> messages;  // in the order the page shows them
};

// `OnConvert`'s work: applies the request to the options, opens the input, checks
// the range and converts. Messages are also written to `log` when it is not null.
Result<SRecordReport> ConvertFile(SRecordOptions& options, const SRecordRequest& request, std::FILE* log);

}  // namespace sealbench
