#include "convert/srecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "common/atomic_file.h"
#include "common/file_checks.h"
#include "common/unique_fd.h"

namespace sealbench {
namespace {

constexpr std::string_view kHeaderRecord = "S00600004844521B\r\n";
constexpr size_t kReadBufferSize = 64 * 1024;
constexpr size_t kTextBufferSize = 256 * 1024;
constexpr size_t kLongestRecord = 2 + 2 + 2 * (4 + kMaxLineLength + 1) + 2;
constexpr uint64_t kTopOfSpace = 0xFFFFFFFFu;

constexpr char kHex[] = "0123456789ABCDEF";

// Both hex digits of every byte value, so that a byte costs one two-byte copy.
struct HexPairs {
    char pair[256][2];
    constexpr HexPairs() : pair() {
        for (int i = 0; i < 256; ++i) {
            pair[i][0] = kHex[i >> 4];
            pair[i][1] = kHex[i & 15];
        }
    }
};
constexpr HexPairs kHexPairs;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Reads the input sequentially through a fixed buffer.
class InputReader {
public:
    explicit InputReader(int fd) : fd_(fd), buffer_(new uint8_t[kReadBufferSize]) {}

    // False at a read error or when the input ends early.
    bool Read(uint8_t* out, size_t size) {
        while (size > 0) {
            if (pos_ == filled_ && !Refill()) {
                return false;
            }
            size_t part = std::min(size, filled_ - pos_);
            std::memcpy(out, buffer_.get() + pos_, part);
            pos_ += part;
            out += part;
            size -= part;
        }
        return true;
    }
    int Error() const { return error_; }

private:
    bool Refill() {
        ssize_t n;
        do {
            n = ::read(fd_, buffer_.get(), kReadBufferSize);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            error_ = n < 0 ? errno : 0;
            return false;
        }
        pos_ = 0;
        filled_ = static_cast<size_t>(n);
        return true;
    }

    int fd_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t pos_ = 0;
    size_t filled_ = 0;
    int error_ = 0;
};

// Collects records as text and hands them to the output file in large pieces.
class RecordWriter {
public:
    explicit RecordWriter(AtomicFile& file) : file_(file), text_(new char[kTextBufferSize]) {}

    // One record: type digit, address of `addressBytes` bytes, data, checksum.
    void Record(char type, int addressBytes, uint32_t address, const uint8_t* data, size_t size) {
        if (used_ + kLongestRecord > kTextBufferSize) {
            Flush();
        }
        char* out = text_.get() + used_;
        unsigned count = static_cast<unsigned>(size + static_cast<size_t>(addressBytes) + 1);
        unsigned sum = count;
        *out++ = 'S';
        *out++ = type;
        out = Byte(out, count);
        for (int shift = 8 * (addressBytes - 1); shift >= 0; shift -= 8) {
            unsigned byte = (address >> shift) & 0xFF;
            sum += byte;
            out = Byte(out, byte);
        }
        for (size_t i = 0; i < size; ++i) {
            sum += data[i];
            out = Byte(out, data[i]);
        }
        out = Byte(out, ~sum & 0xFF);
        *out++ = '\r';
        *out++ = '\n';
        used_ = static_cast<size_t>(out - text_.get());
    }

    void Text(std::string_view text) {
        Flush();
        file_.Write(text);
    }

    bool Flush() {
        bool ok = file_.Write(text_.get(), used_);
        used_ = 0;
        return ok;
    }

private:
    static char* Byte(char* out, unsigned value) {
        std::memcpy(out, kHexPairs.pair[value & 0xFF], 2);
        return out + 2;
    }

    AtomicFile& file_;
    std::unique_ptr<char[]> text_;
    size_t used_ = 0;
};

void Log(std::FILE* log, const std::string& text) {
    if (log != nullptr) {
        std::fputs(text.c_str(), log);
    }
}

// The page shows messages without their trailing line feed.
void Report(SRecordReport& outcome, std::FILE* log, const std::string& text) {
    Log(log, text);
    std::string shown = text;
    while (!shown.empty() && shown.back() == '\n') {
        shown.pop_back();
    }
    outcome.messages.push_back(shown);
}

Result<SRecordReport> Failed(SRecordReport report, FailureKind kind) {
    std::string message = report.messages.empty() ? std::string() : report.messages.back();
    return {Outcome::Failure(kind, std::move(message)), std::move(report)};
}

void RaiseAddressBytes(SRecordOptions& options, uint64_t highest) {
    if (highest > 0xFFFF && options.addressBytes < 3) {
        options.addressBytes = 3;
    }
    if (highest > 0xFFFFFF && options.addressBytes < 4) {
        options.addressBytes = 4;
    }
}

// Writes the output for the input positioned at `begin`. With `haveData` false
// only the header and footer are written: the range lies outside the file.
bool ConvertBinToSRecord(SRecordOptions& options, int input, bool haveData, SRecordReport& outcome, std::FILE* log) {
    const uint64_t max = haveData ? uint64_t{options.offset} + options.end - options.begin : options.offset;
    RaiseAddressBytes(options, max);
    const int width = options.addressBytes;

    if (options.verbose) {
        Log(log, "Sealbench binary to S-record converter\nInput is read as raw bytes, one record per line\n");
        Log(log, Format("Input binary file: %s\n", options.inputPath.c_str()));
        Log(log, Format("Begin address   = %" PRIX32 "h\n", options.begin));
        Log(log, Format("End address     = %" PRIX32 "h\n", options.end));
        Log(log, Format("Address offset  = %" PRIX32 "h\n", options.offset));
        Log(log, Format("Maximum address = %" PRIX64 "h\n", max));
        Log(log, Format("Address bytes   = %d\n", width));
    }

    std::string error;
    auto file = AtomicFile::Create(options.outputPath, error);
    if (!file) {
        Report(outcome, log, "Cannot create output file: " + error + "\n");
        return false;
    }
    RecordWriter writer(*file);
    if (options.headerAndFooter) {
        writer.Text(kHeaderRecord);
    }

    uint64_t records = 0;
    if (haveData) {
        if (::lseek(input, options.begin, SEEK_SET) < 0) {
            Report(outcome, log,
                   Format("Cannot read input file %s: %s\n", options.inputPath.c_str(), std::strerror(errno)));
            return false;
        }
        InputReader reader(input);
        uint8_t data[kMaxLineLength];
        const char type = static_cast<char>('0' + width - 1);
        const auto lineLength = static_cast<uint64_t>(options.lineLength);
        for (uint64_t address = options.offset; address <= max; address += lineLength) {
            if (options.verbose) {
                Log(log, Format("Processing %08" PRIX64 "h\r", address));
            }
            size_t size = static_cast<size_t>(std::min(lineLength, max - address + 1));
            if (!reader.Read(data, size)) {
                Report(outcome, log,
                       reader.Error() != 0 ? Format("Cannot read input file %s: %s\n", options.inputPath.c_str(),
                                                    std::strerror(reader.Error()))
                                           : Format("Input file %s ended early\n", options.inputPath.c_str()));
                return false;
            }
            writer.Record(type, width, static_cast<uint32_t>(address), data, size);
            ++records;
        }
    }

    if (options.headerAndFooter) {
        // The count record: S5 with a 16-bit count, S6 with a 24-bit one; a count
        // too large for either is left out, as the record is optional.
        if (records <= 0xFFFF) {
            uint8_t count[2] = {static_cast<uint8_t>(records >> 8), static_cast<uint8_t>(records)};
            writer.Record('5', 0, 0, count, sizeof count);
        } else if (records <= 0xFFFFFF) {
            uint8_t count[3] = {static_cast<uint8_t>(records >> 16), static_cast<uint8_t>(records >> 8),
                                static_cast<uint8_t>(records)};
            writer.Record('6', 0, 0, count, sizeof count);
        }
        writer.Record(static_cast<char>('0' + 11 - width), width, options.offset, nullptr, 0);
    }
    if (!writer.Flush() || !file->Commit()) {
        Report(outcome, log, "Cannot write output file: " + file->Error() + "\n");
        return false;
    }
    if (options.verbose) {
        Log(log, "Processing complete \n");
    }
    outcome.dataRecords = static_cast<int>(records);
    return true;
}

}  // namespace

Result<SRecordReport> ConvertFile(SRecordOptions& options, const SRecordRequest& request, std::FILE* log) {
    SRecordReport outcome;
    options.inputPath = request.inputPath;
    options.outputPath = request.outputPath;
    if (request.begin) {
        options.begin = *request.begin;
    }
    if (request.offset) {
        options.offset = *request.offset;
    }
    if (request.lineLength) {
        options.lineLength =
            static_cast<int>(std::clamp<long long>(*request.lineLength, kMinLineLength, kMaxLineLength));
    }
    if (request.end) {
        options.end = *request.end;
    }
    if (request.addressSize) {
        options.addressBytes =
            static_cast<int>(std::clamp<long long>(*request.addressSize, kMinAddressBytes, kMaxAddressBytes));
    }
    if (request.suppressHeaderAndFooter) {
        options.headerAndFooter = false;
    }

    // A FIFO would hold open() until some program writes to it, and a device has
    // no size to plan the records by.
    if (auto refusal = RefuseNonRegularInput(options.inputPath)) {
        Report(outcome, log, *refusal + "\n");
        return Failed(std::move(outcome), FailureKind::Input);
    }
    UniqueFd input(::open(options.inputPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (input.Get() < 0 || ::fstat(input.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        Report(outcome, log, Format("Input file %s not found\n", options.inputPath.c_str()));
        return Failed(std::move(outcome), FailureKind::File);
    }
    if (auto refusal = RefuseOutputOverInput(options.outputPath, {options.inputPath})) {
        Report(outcome, log, *refusal + "\n");
        return Failed(std::move(outcome), FailureKind::Input);
    }

    // An empty file has no last byte: it yields no data records and no warning.
    bool haveData = info.st_size > 0;
    if (haveData) {
        const uint64_t last = std::min<uint64_t>(static_cast<uint64_t>(info.st_size) - 1, kTopOfSpace);
        options.end =
            request.end ? static_cast<uint32_t>(std::min<uint64_t>(*request.end, last)) : static_cast<uint32_t>(last);
        if (options.begin > last) {
            Report(outcome, log,
                   Format("Begin address %" PRIX32 "h is greater than file size %" PRIX64 "h\n", options.begin, last));
            haveData = false;
        }
        if (options.end < options.begin) {
            Report(outcome, log,
                   Format("End address %" PRIX32 "h is less than begin address %" PRIX32 "h\n", options.end,
                          options.begin));
            haveData = false;
        }
        outcome.warned = !haveData;
        if (outcome.warned && !request.writeWhenOutsideInput) {
            // The warnings above name the last byte's place "file size": say what the file holds.
            Report(outcome, log,
                   "Nothing was written to " + options.outputPath +
                       Format(" (the input holds %" PRIu64 " bytes, at 0h to %" PRIX64 "h)\n",
                              static_cast<uint64_t>(info.st_size), last));
            return Failed(std::move(outcome), FailureKind::Input);
        }
    }
    if (!request.offset) {
        options.offset = options.begin;
    }

    if (haveData) {
        // The last record would pass the top of the 32-bit space (or the range
        // itself does): the addresses cannot be written, so nothing is.
        const uint64_t span = uint64_t{options.end} - options.begin;
        const uint64_t highest = uint64_t{options.offset} + span;
        const uint64_t lastRecord = uint64_t{options.offset} + span / options.lineLength * options.lineLength;
        if (highest > kTopOfSpace || lastRecord + options.lineLength > kTopOfSpace) {
            Report(outcome, log,
                   Format("Address range %08" PRIX32 "h to %08" PRIX64 "h reaches the top of the 32-bit space: "
                          "not supported\n",
                          options.offset, highest));
            return Failed(std::move(outcome), FailureKind::Input);
        }
    }

    if (request.beforeWriting) {
        request.beforeWriting(options.outputPath);
    }
    if (!ConvertBinToSRecord(options, input.Get(), haveData, outcome, log)) {
        return Failed(std::move(outcome), FailureKind::File);
    }
    outcome.messages.emplace_back(kMsgConvertFinished);
    return {Outcome::Success(std::string(kMsgConvertFinished)), std::move(outcome)};
}

}  // namespace sealbench
