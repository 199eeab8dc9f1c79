// Link::StreamFlash: the boot ROM loads the flash library in three pieces, starts
// it, and the streaming session takes the line over (stream_session.cpp).
#include <chrono>
#include <cstring>
#include <vector>

#include "link_impl.h"
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

void PutWord(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

}  // namespace

Error Link::StreamFlash(const StreamJob& job, const StreamObserver& observer, StreamReport* report) {
    StreamReport scratch;
    StreamReport& out = report ? *report : scratch;
    out = {};
    Impl& link = *impl_;
    if (!link.transport) {
        return link.Fail(Error::NotOpen, "no port is open");
    }
    if (job.library.size() < kApplicationHeadSize || job.library.size() > kParameterOffset - kCodeOffset ||
        job.parameterBlock.size() != kParameterSize || job.image.empty()) {
        return link.Fail(Error::Unsupported, "a stream needs a flash library, its parameter block and an image");
    }
    if (!stream::UartDivisor(job.baud) || job.baud < stream::kRomBaud) {
        return link.Fail(Error::Unsupported, "the board's UART cannot run at " + std::to_string(job.baud) + " baud");
    }
    if (Error e = link.CheckStop(); e != Error::Ok) {
        return e;
    }
    // The receive limit and the send observer go back as they were, whatever happens.
    struct Reset {
        Impl& link;
        ~Reset() {
            link.observer = {};
            if (link.transport) link.transport->SetReceiveTimeoutLimit(link.receiveLimitMs);
        }
    } reset{link};
    Transport& transport = *link.transport;
    // The port must take both speeds before anything goes to the board.
    if (Error e = transport.SetLineSpeed(job.baud);
        e != Error::Ok || transport.SetLineSpeed(stream::kRomBaud) != Error::Ok) {
        transport.SetLineSpeed(stream::kRomBaud);
        out.diagnostics.push_back(transport.LastDetail());
        return link.Fail(e == Error::Ok ? Error::Settings : e,
                         "the serial port cannot run at " + std::to_string(job.baud) + " baud");
    }

    // Only the library's code and its block cross the slow line; the image stays on
    // the host. The block asks for streaming.
    std::vector<uint8_t> block(job.parameterBlock.begin(), job.parameterBlock.end());
    PutWord(block.data() + (stream::kStreamWordOffset - kParameterOffset), stream::kStreamRequest);
    const size_t tail = job.library.size() - kApplicationHeadSize;

    StreamProgress progress;
    progress.imageSize = job.image.size();
    progress.loadSize = tail + kParameterSize + kApplicationHeadSize;
    auto report_ = [&] {
        if (observer) observer(progress);
    };
    link.observer = [&](size_t n) {
        progress.lineBytes += n;
        progress.loadBytes += n;
        out.lineBytes += n;
        report_();
    };
    report_();

    // Three loads: the code after its head, the parameter block, and last the head
    // as the application the boot ROM starts.
    const auto started = Clock::now();
    const uint8_t* code = job.library.data();
    Error e = FileDownload(FileType::Image, job.ramBase + kCodeOffset + kApplicationHeadSize,
                           code + kApplicationHeadSize, tail);
    if (e == Error::Ok) {
        e = FileDownload(FileType::Image, job.ramBase + kParameterOffset, block.data(), block.size());
    }
    if (e == Error::Ok) {
        e = FileDownload(FileType::Application, job.ramBase + kCodeOffset, code, kApplicationHeadSize);
    }
    link.observer = {};
    if (e != Error::Ok) {
        return e;  // the download's own detail
    }
    out.reached = progress.stage = StreamStage::Starting;
    report_();
    if (e = CompleteEndResponse(); e != Error::Ok) {
        return e;
    }
    out.loadSeconds = Seconds(started);

    out.reached = progress.stage = StreamStage::Connecting;
    report_();
    // 8O2 lines carry twelve bits a byte, 8N1 ten.
    const int bitsPerByte = job.lineMode == LineMode::OddParityTwoStop ? 12 : 10;
    stream::Session session(transport, bitsPerByte, link.stop, observer, progress, out);
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
