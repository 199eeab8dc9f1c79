#include "stream_session.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <thread>

#include "stream_compress.h"

namespace bootwire::stream {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The library answers within milliseconds; these bound a board that does not.
constexpr milliseconds kHelloWait{1000};
constexpr int kHelloAttempts = 3;
constexpr milliseconds kSpeedWait{1000};
constexpr milliseconds kSyncWait{250};
constexpr int kSyncAttempts = 4;
// The library goes back to 115200 when no block came this long after its switch
// (its own limit, DATASHEET.md); the host waits a little longer before it asks.
constexpr milliseconds kLibrarySyncLimit{2000};
constexpr milliseconds kRevertMargin{500};
constexpr milliseconds kRecoverWait{700};
// A block's answer may take its line time twice over plus this.
constexpr milliseconds kAckSlack{1000};
constexpr int kBlockAttempts = 8;
// A block is taken within its attempts on any line that carries the rate; one
// taken later than this was answered through a link that lags ever further
// behind (a starved network), where a lower rate does not help.
constexpr milliseconds kAnswerLag{15000};
// Blocks sent ahead of the library's answers (its window, DATASHEET.md).
constexpr size_t kWindow = 2;
constexpr milliseconds kFinishWait{250};
constexpr milliseconds kFinishPause{50};
constexpr milliseconds kFinishSilence{15000};
constexpr milliseconds kQuitWait{500};
constexpr int kQuitAttempts = 3;
constexpr size_t kLargestBlock = 16384;

constexpr int kStateErasing = 0xA1;
constexpr int kStateProgramming = 0xA2;
constexpr int kStateVerifying = 0xA3;
constexpr int kStateEraseError = 0xB1;
constexpr int kStateProgramError = 0xB2;
constexpr int kStateVerifyError = 0xB3;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
    return text;
}

// The run's line for a state code the library failed with, as normal runs say it.
std::string StateText(int state) {
    switch (state) {
        case kStateEraseError:
            return "Flashing Erase Error\n";
        case kStateProgramError:
            return "Flashing Program Error\n";
        case kStateVerifyError:
            return "Flashing Verifying Error\n";
        default:
            return "The flash library failed with state " + Hex(static_cast<uint32_t>(state)) + "\n";
    }
}

}  // namespace

Session::Session(Transport& transport, int bitsPerByte, std::stop_token stop, const StreamObserver& observer,
                 StreamProgress& progress, StreamReport& report)
    : transport_(transport),
      bitsPerByte_(bitsPerByte),
      stop_(std::move(stop)),
      observer_(observer),
      progress_(progress),
      report_(report) {
    sent_ = [this](size_t n) {
        progress_.lineBytes += n;
        report_.lineBytes += n;
        Report();
    };
}

void Session::Report() {
    if (observer_) observer_(progress_);
}

bool Session::Stopped() { return stop_.stop_requested(); }

bool Session::Fail(Error error, std::string reason, std::string diagnostic) {
    if (failure_.error == Error::Ok) failure_ = {error, std::move(reason)};
    if (!diagnostic.empty()) report_.diagnostics.push_back(std::move(diagnostic));
    return false;
}

bool Session::SlowerMayHelp(std::string reason) {
    if (failure_.error == Error::Ok) report_.slowerMayHelp = true;
    return Fail(Error::NoAnswer, std::move(reason));
}

void Session::Follow(int state) {
    switch (state) {
        case kStateErasing:
            progress_.stage = StreamStage::Erasing;
            break;
        case kStateProgramming:
            progress_.stage = StreamStage::Programming;
            break;
        case kStateVerifying:
            progress_.stage = StreamStage::Verifying;
            break;
        default:
            break;
    }
}

std::chrono::milliseconds Session::LineTime(size_t bytes) const {
    return milliseconds(static_cast<int64_t>(bytes) * bitsPerByte_ * 1000 / baud_ + 1);
}

bool Session::Send(const std::vector<uint8_t>& frame) {
    if (linkLost_) return false;
    if (const Error e = transport_.Send(frame.data(), frame.size(), &sent_); e != Error::Ok) {
        linkLost_ = true;
        return Fail(e, "The board stopped taking data on the serial line", transport_.LastDetail());
    }
    return true;
}

Session::Wait Session::Await(milliseconds limit, Message* message) {
    const auto deadline = Clock::now() + limit;
    // A message's tail (the digests of version 2) arrives in pieces of this.
    uint8_t buffer[1024];
    for (;;) {
        if (auto found = scanner_.Next()) {
            *message = *found;
            return Wait::Message;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || linkLost_) return linkLost_ ? Wait::LinkLost : Wait::TimedOut;
        transport_.SetReceiveTimeoutLimit(static_cast<int>(left.count()));
        size_t got = 0;
        const Error e = transport_.Receive(buffer, std::min(scanner_.Missing(), sizeof buffer), &got);
        scanner_.Add(buffer, got);
        if (e != Error::Ok && e != Error::Timeout && e != Error::NoAnswer) {
            linkLost_ = true;
            Fail(e, "The serial line to the board was lost", transport_.LastDetail());
            return Wait::LinkLost;
        }
    }
}

bool Session::LibraryError(const Message& m) {
    char state[8];
    std::snprintf(state, sizeof state, "0x%02X", m.state);
    std::string detail = "the flash library reports " + ReasonText(m.reason) + " (state " + state;
    // A hello carries the library's limits, not a count of bytes.
    if (m.kind != Reply::Hello) detail += ", " + std::to_string(m.value) + " image bytes in flash";
    if (failure_.error == Error::Ok) report_.libraryState = m.state;
    return Fail(Error::Rejected, StateText(m.state), detail + ")");
}

bool Session::Hello(uint16_t version) {
    Message m;
    for (int attempt = 0; attempt < kHelloAttempts; ++attempt) {
        if (!Send(EncodeFrame(Frame::Hello, 0, version > kProtocolVersion ? version : 0))) return false;
        const auto deadline = Clock::now() + kHelloWait;
        for (;;) {
            const Wait w = Await(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), &m);
            if (w == Wait::LinkLost) return false;
            if (w == Wait::TimedOut) break;
            if (m.kind != Reply::Hello) continue;
            // A library answers with the highest version both speak.
            if (m.seq < kProtocolVersion || m.seq > std::max(version, kProtocolVersion)) {
                return Fail(Error::UnexpectedWord,
                            "The flash library on the board does not speak this version of fast serial flashing",
                            "it speaks version " + std::to_string(m.seq) + ", Sealbench " + std::to_string(version));
            }
            version_ = m.seq;
            if (m.state >= kStateEraseError) return LibraryError(m);
            if (m.value == 0) return Fail(Error::UnexpectedWord, "The flash library offered no room for blocks");
            blockSize_ = std::min<size_t>(m.value, kLargestBlock);
            Follow(m.state);
            return true;
        }
    }
    return Fail(Error::NoAnswer, "The flash library did not answer on the serial line",
                "no answer to " + std::to_string(kHelloAttempts) + " hellos at 115200 baud");
}

bool Session::SetSpeed(int baud) {
    if (const Error e = transport_.SetLineSpeed(baud); e != Error::Ok) {
        return Fail(e, "The serial port cannot run at " + std::to_string(baud) + " baud", transport_.LastDetail());
    }
    baud_ = baud;
    progress_.baud = baud;
    scanner_.Clear();
    return true;
}

bool Session::Recover(Clock::time_point switched) {
    // Whatever arrives meanwhile is noise of the failed speed.
    Message m;
    const auto until = switched + kLibrarySyncLimit + kRevertMargin;
    while (Clock::now() < until) {
        if (Await(std::chrono::duration_cast<milliseconds>(until - Clock::now()) + milliseconds(1), &m) ==
            Wait::LinkLost)
            return false;
    }
    scanner_.Clear();
    for (int attempt = 0; attempt < kHelloAttempts; ++attempt) {
        if (!Send(EncodeFrame(Frame::Hello, 0, 0))) return false;
        const auto deadline = Clock::now() + kRecoverWait;
        for (;;) {
            const Wait w = Await(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), &m);
            if (w == Wait::LinkLost) return false;
            if (w == Wait::TimedOut) break;
            if (m.kind == Reply::Hello) return true;
        }
    }
    return false;
}

bool Session::ChangeSpeed(int baud) {
    Message m;
    if (!Send(EncodeFrame(Frame::Speed, 0, static_cast<uint32_t>(baud)))) return false;
    const auto deadline = Clock::now() + kSpeedWait;
    bool confirmed = false;
    while (!confirmed) {
        const Wait w = Await(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), &m);
        if (w == Wait::LinkLost) return false;
        if (w == Wait::TimedOut) {
            // It may have switched all the same: let it come back before the run ends.
            Recover(Clock::now());
            return Fail(Error::NoAnswer,
                        "The flash library did not confirm the change to " + std::to_string(baud) + " baud");
        }
        if (m.kind == Reply::Refused) {
            Fail(Error::Unsupported, "The board's UART cannot run at " + std::to_string(baud) + " baud.");
            report_.slowerMayHelp = true;
            return false;
        }
        if (m.kind == Reply::Error) return LibraryError(m);
        confirmed = m.kind == Reply::Speed && m.value == static_cast<uint32_t>(baud);
    }

    const auto switched = Clock::now();
    if (baud != baud_ && !SetSpeed(baud)) {
        // The library waits at the new speed in vain and goes back by itself.
        Recover(switched);
        return false;
    }
    for (int attempt = 0; attempt < kSyncAttempts; ++attempt) {
        const uint32_t nonce =
            0x5A000000u | static_cast<uint32_t>(attempt) << 16 | static_cast<uint32_t>(baud & 0xFFFF);
        if (!Send(EncodeFrame(Frame::Sync, static_cast<uint16_t>(attempt), nonce))) return false;
        const auto until = Clock::now() + kSyncWait;
        for (;;) {
            const Wait w = Await(std::chrono::duration_cast<milliseconds>(until - Clock::now()), &m);
            if (w == Wait::LinkLost) return false;
            if (w == Wait::TimedOut) break;
            if (m.kind == Reply::Sync && m.value == nonce) return true;
        }
    }
    // Nothing sensible came back at the new speed: back to the boot ROM's.
    const std::string tried = std::to_string(baud);
    if (!SetSpeed(kRomBaud)) return false;
    if (Recover(switched)) {
        return SlowerMayHelp("The board did not answer at " + tried + " baud; both sides are back at 115200 baud.");
    }
    return SlowerMayHelp("The board did not answer at " + tried +
                         " baud, nor at 115200 baud afterwards; reset the board.");
}

bool Session::AwaitDigest(uint32_t* digest) {
    Message m;
    auto lastChange = Clock::now();
    uint64_t lastValue = progress_.bytesProgrammed - std::min(progress_.bytesProgrammed, progressBase_);
    int lastState = 0;
    for (;;) {
        if (Stopped()) return Fail(Error::Stopped, "Flashing stopped; the flash holds part of the image");
        const auto asked = Clock::now();
        if (!Send(EncodeFrame(Frame::Finish, 0, 0))) return false;
        const Wait w = Await(kFinishWait, &m);
        if (w == Wait::LinkLost) return false;
        if (w == Wait::Message) {
            if (m.kind == Reply::Done) {
                *digest = m.value;
                return true;
            }
            if (m.kind == Reply::Error) return LibraryError(m);
            if (m.kind == Reply::Progress) {
                if (m.state == kStateVerifying && progress_.stage != StreamStage::Verifying) {
                    lastValue = 0;
                }
                if (m.value != lastValue || m.state != lastState) lastChange = Clock::now();
                lastValue = m.value;
                lastState = m.state;
                Follow(m.state);
                progress_.bytesProgrammed = progressBase_ + m.value;
                Report();
            }
            // Asked again after a pause, not at once: the library has work to do.
            std::this_thread::sleep_until(asked + kFinishPause);
        }
        if (Clock::now() - lastChange > kFinishSilence) {
            return Fail(Error::Timeout, "The board stopped reporting progress while it wrote the flash",
                        "no progress for " + std::to_string(kFinishSilence.count() / 1000) + " s");
        }
    }
}

bool Session::Resend(std::deque<InFlight>& inFlight, int* attempts) {
    if (++*attempts > kBlockAttempts) {
        return SlowerMayHelp("The board did not take block " + std::to_string(inFlight.front().seq) + " in " +
                             std::to_string(kBlockAttempts) + " attempts at " + std::to_string(baud_) + " baud.");
    }
    for (const InFlight& block : inFlight) {
        ++report_.retransmissions;
        if (!Send(block.frame)) return false;
    }
    return true;
}

bool Session::SendBlocks(const BlockSource& source, uint16_t firstSeq) {
    std::deque<InFlight> inFlight;
    uint16_t next = firstSeq;
    // Blocks below `allowed` may be sent: the library answers a block only when it
    // has room for the window behind it.
    uint16_t allowed = static_cast<uint16_t>(firstSeq + kWindow);
    bool more = true;
    int attempts = 1;  // sends of the oldest block in flight
    Clock::time_point deadline{};
    auto bytesInFlight = [&] {
        size_t n = 0;
        for (const InFlight& block : inFlight) n += block.frame.size();
        return n;
    };
    auto rearm = [&] { deadline = Clock::now() + 2 * LineTime(bytesInFlight()) + kAckSlack; };
    Message m;
    for (;;) {
        if (Stopped()) return Fail(Error::Stopped, "Flashing stopped; the flash holds part of the image");
        while (more && inFlight.size() < kWindow && static_cast<uint16_t>(allowed - next) - 1u < 0x8000u) {
            InFlight block;
            if (!(more = source(next, &block))) break;
            block.sent = Clock::now();
            inFlight.push_back(std::move(block));
            ++report_.blocks;
            if (inFlight.size() == 1) attempts = 1;
            if (!Send(inFlight.back().frame)) return false;
            rearm();
            ++next;
        }
        if (failure_.error != Error::Ok) return false;  // the source could not make a block
        if (inFlight.empty()) return true;

        const Wait w = Await(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), &m);
        if (w == Wait::LinkLost) return false;
        if (w == Wait::TimedOut) {
            if (!Resend(inFlight, &attempts)) return false;
            rearm();
            continue;
        }
        // Answers name sequence numbers; blocks before them in flight are taken.
        milliseconds lag{0};
        auto takeBefore = [&](uint16_t seq) {
            bool any = false;
            while (!inFlight.empty() && static_cast<uint16_t>(seq - inFlight.front().seq) - 1u < 0x8000u) {
                lag = std::max(lag, std::chrono::duration_cast<milliseconds>(Clock::now() - inFlight.front().sent));
                progress_.imageBytesSent += inFlight.front().size;
                inFlight.pop_front();
                any = true;
            }
            if (any) {
                attempts = 1;
                rearm();
            }
        };
        switch (m.kind) {
            case Reply::Accepted:
                takeBefore(static_cast<uint16_t>(m.seq + 1));
                if (static_cast<uint16_t>(m.seq + 1 + kWindow - allowed) - 1u < 0x8000u) {
                    allowed = static_cast<uint16_t>(m.seq + 1 + kWindow);
                }
                progress_.bytesProgrammed = std::max<uint64_t>(progress_.bytesProgrammed, progressBase_ + m.value);
                Follow(m.state);
                Report();
                break;
            case Reply::Rejected:
                // The library asks for this block again (and has those before it).
                takeBefore(m.seq);
                if (!inFlight.empty() && inFlight.front().seq == m.seq) {
                    if (!Resend(inFlight, &attempts)) return false;
                    rearm();
                }
                break;
            case Reply::Error:
                return LibraryError(m);
            default:
                break;
        }
        // Answers that keep coming without taking the oldest block (late ones, for
        // blocks sent again) hold off its resends: the time of its attempts bounds it all the same.
        const milliseconds budget = kBlockAttempts * (2 * LineTime(bytesInFlight()) + kAckSlack);
        if (!inFlight.empty() && Clock::now() - inFlight.front().sent > std::max(budget, kAnswerLag)) {
            lag = std::chrono::duration_cast<milliseconds>(Clock::now() - inFlight.front().sent);
        }
        if (lag > kAnswerLag) {
            return Fail(Error::Timeout,
                        "The board's answers reach this host too late (" + std::to_string(lag.count() / 1000) +
                            " s after the block): the link is too slow for fast serial flashing; flash without it",
                        "block answers lag " + std::to_string(lag.count()) + " ms behind");
        }
    }
}

bool Session::Stream(std::span<const uint8_t> image) {
    if (progress_.stage < StreamStage::Erasing) progress_.stage = StreamStage::Programming;
    Report();
    BlockCompressor compressor(image, blockSize_);
    const bool sent = SendBlocks([&](uint16_t seq, InFlight* out) {
        StreamBlock block;
        if (!compressor.Next(&block)) {
            if (!compressor.Error().empty()) Fail(Error::Io, "The image could not be compressed", compressor.Error());
            return false;
        }
        const uint32_t argument = block.size | (block.stored ? kStoredFlag : 0);
        *out = {seq, block.size, EncodeFrame(Frame::Block, seq, argument, block.payload), {}};
        report_.compressedBytes += block.payload.size();
        return true;
    });
    if (!sent) return false;

    uint32_t digest = 0;
    const uint32_t imageCrc = Crc32(image);
    report_.imageCrc = imageCrc;
    if (!AwaitDigest(&digest)) return false;
    report_.flashCrc = digest;
    if (digest != imageCrc) {
        if (failure_.error == Error::Ok) report_.libraryState = kStateVerifyError;
        return Fail(Error::Rejected, StateText(kStateVerifyError),
                    "the flash holds CRC-32 " + Hex(digest) + " where the image has " + Hex(imageCrc) + " (" +
                        std::to_string(image.size()) + " bytes)");
    }
    progress_.bytesProgrammed = progressBase_ + image.size();
    return true;
}

bool Session::Exchange(Frame kind, uint32_t argument, Reply answer, int attempts) {
    Message m;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!Send(EncodeFrame(kind, 0, argument))) return false;
        const auto deadline = Clock::now() + kQuitWait;
        for (;;) {
            const Wait w = Await(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), &m);
            if (w == Wait::LinkLost) return false;
            if (w == Wait::TimedOut) break;
            if (m.kind == answer) return true;
        }
    }
    return false;
}

void Session::Quit() {
    // Back to the boot ROM's speed first, then the goodbye at that speed: the
    // library hands the board back without another change of speed, and what the
    // host sends next finds the boot ROM listening at 115200.
    if (baud_ != kRomBaud) {
        // Unanswered, the library may have switched all the same: the goodbye decides.
        Exchange(Frame::Speed, kRomBaud, Reply::Speed, kQuitAttempts);
        if (transport_.SetLineSpeed(kRomBaud) == Error::Ok) {
            baud_ = kRomBaud;
            progress_.baud = baud_;
        }
    }
    scanner_.Clear();
    if (!Exchange(Frame::Quit, 0, Reply::Quit, kQuitAttempts) && !linkLost_) {
        report_.diagnostics.push_back(
            "the flash library did not confirm the end of the session; it returns to the boot ROM by itself "
            "within 10 s");
    }
}

}  // namespace bootwire::stream
