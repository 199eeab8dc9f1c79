// Link's sessions of ranges (flashlib/DATASHEET.md "Ranges"): one load of the
// library, then range after range: the digests of its blocks, the blocks that
// differ from the image, the library's CRC-32 of the range, an erase.
//
// Blocks that differ in long runs go as one deflate stream over the run (a range
// of their own written in order), which compresses ARM code to some 27 % where
// blocks deflated one by one reach only some 48 %; short runs and single blocks
// go as ranged writes, whose sectors the library keeps but for the blocks written.
#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>

#include "link_impl.h"
#include "stream_load.h"
#include "stream_session.h"
#include "stream_wire.h"

namespace bootwire {
namespace stream {

struct Ranges {
    StreamObserver observer;
    StreamProgress progress;
    StreamReport report;
    std::unique_ptr<Session> session;  // refers to the three above
    std::chrono::steady_clock::time_point opened;
    // A library of version 1 takes the image of the parameter block, in order, once.
    bool firstVersion = false;
    FlashRange firstRange;
    // A failure the session does not survive (the line lost, a stop): later calls
    // answer it again.
    Error broken = Error::Ok;
    std::string brokenDetail;

    ~Ranges() {
        if (session) session->Quit();
    }
};

void EndRanges(Ranges* ranges) { std::unique_ptr<Ranges> owned(ranges); }

}  // namespace stream

namespace {

// A run of this many blocks or more goes in order as one stream (the Range and
// Finish around it cost some 100 ms, the better compression saves more).
constexpr uint32_t kInOrderBlocks = 16;
// A NAND range in order erases each NAND block it reaches whole: a run written so
// must end on one, or the blocks behind it in that NAND block would be lost.
constexpr uint32_t kNandBlockBytes = 16384;
// What a range written in order holds at most (the library decodes it into RAM).
constexpr size_t kMaxRangeImage = 32u << 20;

uint32_t GetWord(std::span<const uint8_t> bytes, size_t at) {
    return bytes.size() < at + 4
               ? 0
               : bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

uint32_t BlockCount(size_t size) {
    return static_cast<uint32_t>(size / kRangeBlockSize + (size % kRangeBlockSize != 0));
}

std::span<const uint8_t> BlockOf(std::span<const uint8_t> image, uint32_t index) {
    const size_t at = size_t{index} * kRangeBlockSize;
    return image.subspan(at, std::min<size_t>(kRangeBlockSize, image.size() - at));
}

// How the differing blocks go: runs in order (first block, count) and single writes.
struct Pieces {
    std::vector<std::pair<uint32_t, uint32_t>> inOrder;
    std::vector<uint32_t> writes;
};

Pieces PlanPieces(const std::vector<uint32_t>& differing, uint32_t blocks, bool nand) {
    Pieces pieces;
    for (size_t i = 0; i < differing.size();) {
        size_t j = i + 1;
        while (j < differing.size() && differing[j] == differing[j - 1] + 1) ++j;
        const uint32_t first = differing[i];
        uint32_t count = static_cast<uint32_t>(j - i);
        if (nand) {
            // Only from the range's start (a later offset would name other good
            // blocks), and up to a NAND block's end unless the run ends the range.
            constexpr uint32_t perNandBlock = kNandBlockBytes / kRangeBlockSize;
            if (first != 0) count = 0;
            if (first + count != blocks) count -= count % perNandBlock;
        }
        if (count >= kInOrderBlocks) {
            pieces.inOrder.emplace_back(first, count);
        } else {
            count = 0;
        }
        for (size_t k = i + count; k < j; ++k) pieces.writes.push_back(differing[k]);
        i = j;
    }
    return pieces;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// A failure of the session's own making: the reason alone, without what the port
// last said (it has nothing to do with it).
Error Refuse(std::string& detail, Error error, std::string reason) {
    detail = std::move(reason);
    return error;
}

}  // namespace

bool Link::RangesOpen() const { return impl_->ranges != nullptr; }

Error Link::OpenRanges(const StreamJob& job, const StreamObserver& observer, StreamReport* report) {
    Impl& link = *impl_;
    link.ranges.reset();
    auto owned = std::make_unique<stream::Ranges>();
    stream::Ranges& ranges = *owned;
    ranges.observer = observer;
    ranges.progress.imageSize = job.image.size();
    Impl::StreamGuard guard{link};
    const std::vector<uint8_t> block =
        stream::StreamParameterBlock(job.parameterBlock, static_cast<uint32_t>(job.image.size()));
    Error e = link.LoadStreaming(*this, job, block, ranges.progress, ranges.report, ranges.observer);
    if (e == Error::Ok) {
        const int bitsPerByte = job.lineMode == LineMode::OddParityTwoStop ? 12 : 10;
        ranges.session = std::make_unique<stream::Session>(*link.transport, bitsPerByte, link.stop, ranges.observer,
                                                           ranges.progress, ranges.report);
        ranges.opened = std::chrono::steady_clock::now();
        stream::Session& session = *ranges.session;
        if (!session.Hello(stream::kRangesVersion) || !session.ChangeSpeed(job.baud)) {
            link.detail = session.failure().reason;
            e = session.failure().error;
        } else if (session.Version() < stream::kRangesVersion) {
            ranges.firstVersion = true;
            ranges.firstRange = {GetWord(block, 0x00), static_cast<uint32_t>(job.image.size()), GetWord(block, 0x04)};
            if (job.image.empty()) {
                e = Refuse(link.detail, Error::Unsupported,
                           "The flash library on the board speaks only the first version of fast serial "
                           "flashing, which cannot compare, verify or erase ranges");
            }
        }
    }
    ranges.report.reached = ranges.progress.stage;
    if (e != Error::Ok) {
        if (ranges.session) {
            ranges.session->Quit();  // the library runs: say goodbye before the report is handed over
            ranges.session.reset();
        }
        if (report) *report = ranges.report;
        return e;
    }
    if (report) *report = ranges.report;
    link.ranges = {owned.release(), &stream::EndRanges};
    return Error::Ok;
}

void Link::CloseRanges(StreamReport* report) {
    Impl& link = *impl_;
    if (!link.ranges) return;
    stream::Ranges& ranges = *link.ranges;
    ranges.session->Quit();
    ranges.report.streamSeconds = stream::SecondsSince(ranges.opened);
    ranges.session.reset();
    if (report) *report = ranges.report;
    link.ranges.reset();
    if (link.transport) link.transport->SetReceiveTimeoutLimit(link.receiveLimitMs);
}

namespace {

// One call of a session: the session's stop, a fresh failure, the receive limit
// and the report's diagnostics put back or handed over at the end.
class RangeCall {
public:
    RangeCall(stream::Ranges& ranges, std::stop_token stop, Transport* transport, int receiveLimitMs,
              RangeReport& report)
        : ranges_(ranges),
          transport_(transport),
          receiveLimitMs_(receiveLimitMs),
          report_(report),
          diagnostics_(ranges.report.diagnostics.size()) {
        ranges.session->SetStop(std::move(stop));
        ranges.session->ClearFailure();
        ranges.session->SetProgressBase(0);
        ranges.report.libraryState = 0;
    }
    ~RangeCall() {
        auto& all = ranges_.report.diagnostics;
        report_.diagnostics.assign(all.begin() + static_cast<std::ptrdiff_t>(diagnostics_), all.end());
        if (transport_) transport_->SetReceiveTimeoutLimit(receiveLimitMs_);
    }
    RangeCall(const RangeCall&) = delete;
    RangeCall& operator=(const RangeCall&) = delete;

private:
    stream::Ranges& ranges_;
    Transport* transport_;
    int receiveLimitMs_;
    RangeReport& report_;
    size_t diagnostics_;
};

// The session's answer to a failed step: the error, and the session ended for
// good when the line or the board is lost or the caller stopped.
Error Failed(std::string& detail, stream::Ranges& ranges, RangeReport& report) {
    const stream::Failure& failure = ranges.session->failure();
    detail = failure.reason;
    report.libraryState = ranges.report.libraryState;
    if (failure.error != Error::Rejected) {
        ranges.broken = failure.error;
        ranges.brokenDetail = failure.reason;
    }
    return failure.error;
}

// What every request of a session begins with: the report to fill (the caller's,
// or one of its own), emptied, and the session it may use; without one, the error
// and its reason in `detail`. `firstVersion`: why a library of version 1 cannot
// serve the request, empty when it can; `image`: the image the request takes, if any.
struct RequestStart {
    RequestStart(RangeReport* out, stream::Ranges* open, bool transport, std::string& detail,
                 std::string_view firstVersion, const std::span<const uint8_t>* image)
        : report(out ? *out : scratch) {
        report = {};
        if (image && (image->empty() || image->size() > kMaxRangeImage)) {
            error = Refuse(detail, Error::Unsupported, "a range takes an image of 1 byte to 32 MiB");
        } else if (!open || !transport) {
            detail = "no session of ranges is open on this link";
            error = Error::NotOpen;
        } else if (open->broken != Error::Ok) {
            detail = open->brokenDetail;
            error = open->broken;
        } else if (open->firstVersion && !firstVersion.empty()) {
            detail = "The flash library on the board speaks only the first version of fast serial flashing, " +
                     std::string(firstVersion);
            error = Error::Unsupported;
        } else {
            ranges = open;
        }
    }

    RangeReport scratch;
    RangeReport& report;
    stream::Ranges* ranges = nullptr;
    Error error = Error::Ok;
};

// The digests of every block of the range in use, compared with the image's.
bool DifferingBlocks(stream::Ranges& ranges, std::span<const uint8_t> image, std::vector<uint32_t>* differing) {
    stream::Session& session = *ranges.session;
    const uint32_t blocks = BlockCount(image.size());
    ranges.progress.stage = StreamStage::Comparing;
    ranges.progress.bytesProgrammed = 0;
    std::vector<uint64_t> digests;
    for (uint32_t first = 0; first < blocks; first += stream::kMaxDigests) {
        const auto count = static_cast<uint16_t>(std::min<uint32_t>(stream::kMaxDigests, blocks - first));
        session.SetProgressBase(uint64_t{first} * kRangeBlockSize);
        if (!session.Digests(first, count, &digests)) return false;
        ranges.progress.bytesProgrammed = std::min<uint64_t>(image.size(), uint64_t{first + count} * kRangeBlockSize);
        if (ranges.observer) ranges.observer(ranges.progress);
    }
    session.SetProgressBase(0);
    for (uint32_t i = 0; i < blocks; ++i) {
        if (digests[i] != stream::Crc64(BlockOf(image, i))) differing->push_back(i);
    }
    return true;
}

}  // namespace

Error Link::WriteRange(const FlashRange& range, std::span<const uint8_t> image, const RangeWrite& how,
                       RangeReport* reportOut) {
    Impl& link = *impl_;
    RequestStart start(reportOut, link.ranges.get(), link.transport != nullptr, link.detail, {}, &image);
    if (!start.ranges) return start.error;
    RangeReport& report = start.report;
    stream::Ranges& ranges = *start.ranges;
    stream::Session& session = *ranges.session;
    RangeCall call(ranges, link.stop, link.transport.get(), link.receiveLimitMs, report);
    StreamProgress& progress = ranges.progress;
    progress.imageSize = image.size();
    progress.bytesProgrammed = 0;
    progress.imageBytesSent = 0;
    const uint64_t compressedBefore = ranges.report.compressedBytes;
    const uint32_t blocks = BlockCount(image.size());
    report.blocks = blocks;
    report.imageCrc = stream::Crc32(image);
    const FlashRange whole{range.address, static_cast<uint32_t>(image.size()), range.partitionEnd, range.nand};
    auto failed = [&] {
        report.payloadBytes = ranges.report.compressedBytes - compressedBefore;
        return Failed(link.detail, ranges, report);
    };
    // A stream in order ends with the library's CRC-32 of what it wrote.
    auto inOrder = [&](const FlashRange& part, std::span<const uint8_t> bytes) {
        uint32_t count = 0;
        if (!ranges.firstVersion && !session.Range(part, kRangeBlockSize, &count)) return false;
        if (!session.Stream(bytes)) return false;
        if (bytes.size() == image.size()) {
            report.readBack = true;
            report.flashCrc = ranges.report.flashCrc;
        }
        return true;
    };

    std::vector<uint32_t> differing;
    if (ranges.firstVersion) {
        const FlashRange& first = ranges.firstRange;
        if (whole.address != first.address || whole.size != first.size || whole.partitionEnd != first.partitionEnd) {
            return Refuse(link.detail, Error::Unsupported,
                          "The flash library on the board speaks only the first version of fast serial "
                          "flashing: it writes the image its parameter block names, once");
        }
        ranges.firstRange = {};
        report.blocksDiffering = report.blocksSent = blocks;
        if (!inOrder(whole, image)) return failed();
    } else if (how.everyBlock) {
        report.blocksDiffering = report.blocksSent = blocks;
        if (!inOrder(whole, image)) return failed();
    } else {
        uint32_t count = 0;
        if (!session.Range(whole, kRangeBlockSize, &count) || !DifferingBlocks(ranges, image, &differing))
            return failed();
        report.blocksDiffering = report.blocksSent = static_cast<uint32_t>(differing.size());
        const Pieces pieces = PlanPieces(differing, blocks, range.nand);
        // One count runs over the range: the equal blocks are done, each piece adds its bytes.
        uint64_t settled = image.size();
        for (uint32_t index : differing) settled -= BlockOf(image, index).size();
        progress.stage = StreamStage::Programming;
        progress.bytesProgrammed = settled;
        if (ranges.observer) ranges.observer(progress);
        bool wholeInUse = true;
        for (const auto& [first, runBlocks] : pieces.inOrder) {
            const size_t at = size_t{first} * kRangeBlockSize;
            const auto part =
                image.subspan(at, std::min<size_t>(image.size() - at, size_t{runBlocks} * kRangeBlockSize));
            session.SetProgressBase(settled);
            const FlashRange sub{range.address + static_cast<uint32_t>(at), static_cast<uint32_t>(part.size()),
                                 range.partitionEnd, range.nand};
            if (!inOrder(sub, part)) return failed();
            settled += part.size();
            wholeInUse = part.size() == image.size();
        }
        if (!pieces.writes.empty()) {
            if (!wholeInUse && !session.Range(whole, kRangeBlockSize, &count)) return failed();
            wholeInUse = true;
            session.SetProgressBase(settled);
            if (!session.Write(image, kRangeBlockSize, pieces.writes)) return failed();
        }
        session.SetProgressBase(0);
        if (how.readBack && !report.readBack && !wholeInUse && !session.Range(whole, kRangeBlockSize, &count))
            return failed();
        if (!report.readBack && !how.readBack && !pieces.writes.empty()) {
            // The blocks written, read back by their digests: this also has the
            // library write back what it holds in RAM, and tell a failure to.
            std::vector<uint32_t> still;
            const uint32_t from = pieces.writes.front();
            for (uint32_t first = from; first <= pieces.writes.back(); first += stream::kMaxDigests) {
                std::vector<uint64_t> digests;
                const auto n = static_cast<uint16_t>(std::min<uint32_t>(stream::kMaxDigests, blocks - first));
                if (!session.Digests(first, n, &digests)) return failed();
                for (uint32_t index : pieces.writes) {
                    if (index >= first && index < first + n &&
                        digests[index - first] != stream::Crc64(BlockOf(image, index)))
                        still.push_back(index);
                }
            }
            if (!still.empty()) {
                ranges.report.diagnostics.push_back(std::to_string(still.size()) +
                                                    " blocks written read back different, the first at " +
                                                    Hex(range.address + still.front() * kRangeBlockSize));
                report.libraryState = 0xB3;
                report.payloadBytes = ranges.report.compressedBytes - compressedBefore;
                return Refuse(link.detail, Error::Rejected, "Flashing Verifying Error\n");
            }
        }
    }
    if (how.readBack && !report.readBack) {
        progress.stage = StreamStage::Verifying;
        progress.bytesProgrammed = 0;
        if (ranges.observer) ranges.observer(progress);
        if (!session.RangeDigest(&report.flashCrc)) return failed();
        report.readBack = true;
    }
    report.payloadBytes = ranges.report.compressedBytes - compressedBefore;
    if (report.readBack && report.flashCrc != report.imageCrc) {
        ranges.report.diagnostics.push_back("the flash holds CRC-32 " + Hex(report.flashCrc) + " where the image has " +
                                            Hex(report.imageCrc) + " (" + std::to_string(image.size()) + " bytes)");
        report.libraryState = 0xB3;
        return Refuse(link.detail, Error::Rejected, "Flashing Verifying Error\n");
    }
    progress.bytesProgrammed = image.size();
    progress.stage = StreamStage::Finished;
    if (ranges.observer) ranges.observer(progress);
    return Error::Ok;
}

Error Link::VerifyRange(const FlashRange& range, std::span<const uint8_t> image, RangeReport* reportOut) {
    Impl& link = *impl_;
    RequestStart start(reportOut, link.ranges.get(), link.transport != nullptr, link.detail,
                       "which cannot compare the flash with an image", &image);
    if (!start.ranges) return start.error;
    RangeReport& report = start.report;
    stream::Ranges& ranges = *start.ranges;
    stream::Session& session = *ranges.session;
    RangeCall call(ranges, link.stop, link.transport.get(), link.receiveLimitMs, report);
    ranges.progress.imageSize = image.size();
    report.blocks = BlockCount(image.size());
    report.imageCrc = stream::Crc32(image);
    const FlashRange whole{range.address, static_cast<uint32_t>(image.size()), range.partitionEnd, range.nand};
    std::vector<uint32_t> differing;
    uint32_t count = 0;
    if (!session.Range(whole, kRangeBlockSize, &count) || !DifferingBlocks(ranges, image, &differing))
        return Failed(link.detail, ranges, report);
    report.blocksDiffering = static_cast<uint32_t>(differing.size());
    const uint32_t end = whole.address + whole.size;
    for (uint32_t index : differing) {
        const uint32_t from = whole.address + index * kRangeBlockSize;
        const uint32_t to = std::min(end, from + kRangeBlockSize);
        if (!report.differing.empty() && report.differing.back().end == from) {
            report.differing.back().end = to;
        } else {
            report.differing.push_back({from, to});
        }
    }
    if (differing.empty()) {
        // Every digest agrees: the CRC-32 of the whole range, another polynomial,
        // confirms it.
        ranges.progress.stage = StreamStage::Verifying;
        ranges.progress.bytesProgrammed = 0;
        if (!session.RangeDigest(&report.flashCrc)) return Failed(link.detail, ranges, report);
        report.readBack = true;
        if (report.flashCrc != report.imageCrc) {
            ranges.report.diagnostics.push_back("every block digest agrees, but the flash holds CRC-32 " +
                                                Hex(report.flashCrc) + " where the image has " + Hex(report.imageCrc));
            report.differing.push_back({whole.address, end});
        }
    }
    ranges.progress.bytesProgrammed = image.size();
    ranges.progress.stage = StreamStage::Finished;
    if (ranges.observer) ranges.observer(ranges.progress);
    return Error::Ok;
}

Error Link::EraseRange(const FlashRange& range, RangeReport* reportOut) {
    Impl& link = *impl_;
    RequestStart start(reportOut, link.ranges.get(), link.transport != nullptr, link.detail,
                       "which cannot erase a range", nullptr);
    if (!start.ranges) return start.error;
    if (range.size == 0) return Refuse(link.detail, Error::Unsupported, "an erase needs a range of 1 byte or more");
    RangeReport& report = start.report;
    stream::Ranges& ranges = *start.ranges;
    stream::Session& session = *ranges.session;
    RangeCall call(ranges, link.stop, link.transport.get(), link.receiveLimitMs, report);
    ranges.progress.imageSize = range.size;
    ranges.progress.bytesProgrammed = 0;
    report.blocks = BlockCount(range.size);
    uint32_t count = 0;
    if (!session.Range(range, kRangeBlockSize, &count)) return Failed(link.detail, ranges, report);
    ranges.progress.stage = StreamStage::Erasing;
    if (ranges.observer) ranges.observer(ranges.progress);
    stream::Erased erased;
    if (!session.Erase(&erased)) return Failed(link.detail, ranges, report);
    report.erased = {erased.start, erased.end};
    report.erasedUnits = erased.units;
    report.badBlocksSkipped = erased.skipped;
    ranges.progress.bytesProgrammed = range.size;
    ranges.progress.stage = StreamStage::Finished;
    if (ranges.observer) ranges.observer(ranges.progress);
    return Error::Ok;
}

}  // namespace bootwire
