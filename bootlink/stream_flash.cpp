// Link::StreamFlash: the boot ROM loads the flash library in three pieces, starts
// it, and the streaming session takes the line over (stream_session.cpp). The
// sessions of ranges (stream_ranges.cpp) load the library the same way.
#include <chrono>
#include <cstring>
#include <vector>

#include "link_impl.h"
#include "stream_load.h"
#include "stream_session.h"
#include "stream_wire.h"

namespace bootwire {
namespace {

using Clock = std::chrono::steady_clock;

// Where the library and its parameter block lie from the RAM base, as the flash
// libraries are linked.
constexpr uint32_t kCodeOffset = 0x4000;
constexpr uint32_t kParameterOffset = 0xFFE0;
constexpr size_t kParameterSize = 32;
constexpr size_t kImageSizeOffset = 0x18;  // in the parameter block

void PutWord(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

double Seconds(Clock::time_point from) { return stream::SecondsSince(from); }

}  // namespace

namespace stream {

double SecondsSince(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

std::vector<uint8_t> StreamParameterBlock(std::span<const uint8_t> given, std::optional<uint32_t> imageSize) {
    std::vector<uint8_t> block(given.begin(), given.end());
    if (block.size() == kParameterSize) {
        PutWord(block.data() + (kStreamWordOffset - kParameterOffset), kStreamRequest);
        if (imageSize) PutWord(block.data() + kImageSizeOffset, *imageSize);
    }
    return block;
}

}  // namespace stream

Error Link::Impl::LoadStreaming(Link& link, const StreamJob& job, const std::vector<uint8_t>& block,
                                StreamProgress& progress, StreamReport& out, const StreamObserver& streamObserver) {
    if (!transport) {
        return Fail(Error::NotOpen, "no port is open");
    }
    if (job.library.size() < kApplicationHeadSize || job.library.size() > kParameterOffset - kCodeOffset ||
        block.size() != kParameterSize) {
        return Fail(Error::Unsupported, "a stream needs a flash library and its parameter block");
    }
    if (!stream::UartDivisor(job.baud) || job.baud < stream::kRomBaud) {
        return Fail(Error::Unsupported, "the board's UART cannot run at " + std::to_string(job.baud) + " baud");
    }
    if (Error e = CheckStop(); e != Error::Ok) {
        return e;
    }
    // The port must take both speeds before anything goes to the board.
    if (Error e = transport->SetLineSpeed(job.baud);
        e != Error::Ok || transport->SetLineSpeed(stream::kRomBaud) != Error::Ok) {
        transport->SetLineSpeed(stream::kRomBaud);
        out.diagnostics.push_back(transport->LastDetail());
        return Fail(e == Error::Ok ? Error::Settings : e,
                    "the serial port cannot run at " + std::to_string(job.baud) + " baud");
    }
    const size_t tail = job.library.size() - kApplicationHeadSize;
    progress.loadSize = tail + kParameterSize + kApplicationHeadSize;
    auto report = [&] {
        if (streamObserver) streamObserver(progress);
    };
    observer = [&](size_t n) {
        progress.lineBytes += n;
        progress.loadBytes += n;
        out.lineBytes += n;
        report();
    };
    report();

    // Three loads: the code after its head, the parameter block, and last the head
    // as the application the boot ROM starts.
    const auto started = Clock::now();
    const uint8_t* code = job.library.data();
    Error e = link.FileDownload(FileType::Image, job.ramBase + kCodeOffset + kApplicationHeadSize,
                                code + kApplicationHeadSize, tail);
    if (e == Error::Ok) {
        e = link.FileDownload(FileType::Image, job.ramBase + kParameterOffset, block.data(), block.size());
    }
    if (e == Error::Ok) {
        e = link.FileDownload(FileType::Application, job.ramBase + kCodeOffset, code, kApplicationHeadSize);
    }
    observer = {};
    if (e != Error::Ok) {
        return e;  // the download's own detail
    }
    out.reached = progress.stage = StreamStage::Starting;
    report();
    if (e = link.CompleteEndResponse(); e != Error::Ok) {
        return e;
    }
    out.loadSeconds = Seconds(started);
    out.reached = progress.stage = StreamStage::Connecting;
    report();
    return Error::Ok;
}

Error Link::StreamFlash(const StreamJob& job, const StreamObserver& observer, StreamReport* report) {
    StreamReport scratch;
    StreamReport& out = report ? *report : scratch;
    out = {};
    Impl& link = *impl_;
    if (job.image.empty()) {
        return link.Fail(Error::Unsupported, "a stream needs a flash library, its parameter block and an image");
    }
    Impl::StreamGuard guard{link};
    // Only the library's code and its block cross the slow line; the image stays on the host.
    StreamProgress progress;
    progress.imageSize = job.image.size();
    if (Error e =
            link.LoadStreaming(*this, job, stream::StreamParameterBlock(job.parameterBlock), progress, out, observer);
        e != Error::Ok) {
        return e;
    }
    auto report_ = [&] {
        if (observer) observer(progress);
    };
    // 8O2 lines carry twelve bits a byte, 8N1 ten.
    const int bitsPerByte = job.lineMode == LineMode::OddParityTwoStop ? 12 : 10;
    stream::Session session(*link.transport, bitsPerByte, link.stop, observer, progress, out);
    const auto streaming = Clock::now();
    const bool ok = session.Hello() && session.ChangeSpeed(job.baud) && session.Stream(job.image);
    out.streamSeconds = Seconds(streaming);
    out.reached = progress.stage;
    session.Quit();
    if (!ok) {
        // What the port said is in the report's diagnostics: the detail is the reason alone.
        link.detail = session.failure().reason;
        return session.failure().error;
    }
    out.reached = progress.stage = StreamStage::Finished;
    progress.baud = stream::kRomBaud;
    report_();
    return Error::Ok;
}

}  // namespace bootwire
