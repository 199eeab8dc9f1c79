#include "fast_session.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <thread>

#include "fast_compress.h"

namespace sealbench {
namespace {

using Clock = std::chrono::steady_clock;
using fastwire::Frame;
using fastwire::Message;
using fastwire::Reply;
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
// Blocks sent ahead of the library's answers (its window, DATASHEET.md).
constexpr size_t kWindow = 2;
constexpr milliseconds kFinishWait{250};
constexpr milliseconds kFinishPause{50};
constexpr milliseconds kFinishSilence{15000};
constexpr milliseconds kQuitWait{500};
constexpr int kQuitAttempts = 3;
constexpr size_t kLargestBlock = 16384;

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

std::string LowerRates(int baud) {
    std::string text;
    for (int rate : FastBaudRates()) {
        if (rate >= baud || rate == fastwire::kRomBaud) continue;
        text += text.empty() ? std::to_string(rate) : " or " + std::to_string(rate);
    }
    return text.empty() ? std::to_string(fastwire::kRomBaud) : text;
}

}  // namespace

FastSession::FastSession(bootwire::Transport& transport, int bitsPerByte, const std::atomic<bool>& stop,
                         const FastProgressObserver& observer, FastProgress& progress, FastFlashResult& result)
    : transport_(transport),
      bitsPerByte_(bitsPerByte),
      stop_(stop),
      observer_(observer),
      progress_(progress),
      result_(result) {
    sent_ = [this](size_t n) {
        progress_.lineBytes += n;
        result_.stats.lineBytes += n;
        Report();
    };
}

void FastSession::Report() {
    if (observer_) observer_(progress_);
}

bool FastSession::Stopped() { return stop_.load(); }

bool FastSession::Fail(std::string text, std::string diagnostic) {
    if (result_.text.empty()) result_.text = std::move(text);
    if (!diagnostic.empty()) result_.diagnostics.push_back(std::move(diagnostic));
    return false;
}

std::chrono::milliseconds FastSession::LineTime(size_t bytes) const {
    return milliseconds(static_cast<int64_t>(bytes) * bitsPerByte_ * 1000 / baud_ + 1);
}

bool FastSession::Send(const std::vector<uint8_t>& frame) {
    if (linkLost_) return false;
    if (transport_.Send(frame.data(), frame.size(), &sent_) != bootwire::Error::Ok) {
        linkLost_ = true;
        return Fail("The board stopped taking data on the serial line", transport_.LastDetail());
    }
    return true;
}

FastSession::Wait FastSession::Await(milliseconds limit, Message* message) {
    const auto deadline = Clock::now() + limit;
    uint8_t buffer[fastwire::kMessageSize];
    for (;;) {
        if (auto found = scanner_.Next()) {
            *message = *found;
            return Wait::Message;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || linkLost_) return linkLost_ ? Wait::LinkLost : Wait::TimedOut;
        transport_.SetReceiveTimeoutLimit(static_cast<int>(left.count()));
        size_t got = 0;
        const bootwire::Error e = transport_.Receive(buffer, scanner_.Missing(), &got);
        scanner_.Add(buffer, got);
        if (e != bootwire::Error::Ok && e != bootwire::Error::Timeout && e != bootwire::Error::NoAnswer) {
            linkLost_ = true;
            Fail("The serial line to the board was lost", transport_.LastDetail());
            return Wait::LinkLost;
        }
    }
}

bool FastSession::LibraryError(const Message& m) {
    char state[8];
    std::snprintf(state, sizeof state, "0x%02X", m.state);
    std::string detail = "the flash library reports " + fastwire::ReasonText(m.reason) + " (state " + state;
    // A hello carries the library's limits, not a count of bytes.
    if (m.kind != Reply::Hello) detail += ", " + std::to_string(m.value) + " image bytes in flash";
    return Fail(StateText(m.state), detail + ")");
}

bool FastSession::Hello() {
    Message m;
    for (int attempt = 0; attempt < kHelloAttempts; ++attempt) {
        if (!Send(fastwire::EncodeFrame(Frame::Hello, 0, 0))) return false;
        const auto deadline = Clock::now() + kHelloWait;
        for (;;) {
            const Wait w = Await(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), &m);
            if (w == Wait::LinkLost) return false;
            if (w == Wait::TimedOut) break;
            if (m.kind != Reply::Hello) continue;
            if (m.seq != fastwire::kProtocolVersion) {
                return Fail("The flash library on the board does not speak this version of fast serial flashing",
                            "it speaks version " + std::to_string(m.seq) + ", Sealbench " +
                                std::to_string(fastwire::kProtocolVersion));
            }
            if (m.state >= kStateEraseError) return LibraryError(m);
            if (m.value == 0) return Fail("The flash library offered no room for blocks");
            blockSize_ = std::min<size_t>(m.value, kLargestBlock);
            progress_.stateCode = m.state;
            return true;
        }
    }
    return Fail("The flash library did not answer on the serial line",
                "no answer to " + std::to_string(kHelloAttempts) + " hellos at 115200 baud");
}

bool FastSession::SetSpeed(int baud) {
    if (transport_.SetLineSpeed(baud) != bootwire::Error::Ok) {
        return Fail("The serial port cannot run at " + std::to_string(baud) + " baud", transport_.LastDetail());
    }
    baud_ = baud;
    progress_.baud = baud;
    scanner_.Clear();
    return true;
}

bool FastSession::Recover(Clock::time_point switched) {
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
        if (!Send(fastwire::EncodeFrame(Frame::Hello, 0, 0))) return false;
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

bool FastSession::ChangeSpeed(int baud) {
    Message m;
    if (!Send(fastwire::EncodeFrame(Frame::Speed, 0, static_cast<uint32_t>(baud)))) return false;
    const auto deadline = Clock::now() + kSpeedWait;
    bool confirmed = false;
    while (!confirmed) {
        const Wait w = Await(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), &m);
        if (w == Wait::LinkLost) return false;
        if (w == Wait::TimedOut) {
            // It may have switched all the same: let it come back before the run ends.
            Recover(Clock::now());
            return Fail("The flash library did not confirm the change to " + std::to_string(baud) + " baud");
        }
        if (m.kind == Reply::Refused) {
            return Fail("The board's UART cannot run at " + std::to_string(baud) + " baud; try " + LowerRates(baud));
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
        if (!Send(fastwire::EncodeFrame(Frame::Sync, static_cast<uint16_t>(attempt), nonce))) return false;
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
    if (!SetSpeed(fastwire::kRomBaud)) return false;
    if (Recover(switched)) {
        return Fail("The board did not answer at " + tried +
                    " baud; both sides are back at 115200 baud. Try a lower --baud (" + LowerRates(baud) + ")");
    }
    return Fail("The board did not answer at " + tried +
                " baud, nor at 115200 baud afterwards; reset the board, then try a "
                "lower --baud (" +
                LowerRates(baud) + ")");
}

bool FastSession::AwaitDigest(uint32_t* digest) {
    Message m;
    auto lastChange = Clock::now();
    uint64_t lastValue = progress_.bytesWritten;
    int lastState = progress_.stateCode;
    for (;;) {
        if (Stopped()) return Fail("Flashing stopped; the flash holds part of the image");
        const auto asked = Clock::now();
        if (!Send(fastwire::EncodeFrame(Frame::Finish, 0, 0))) return false;
        const Wait w = Await(kFinishWait, &m);
        if (w == Wait::LinkLost) return false;
        if (w == Wait::Message) {
            if (m.kind == Reply::Done) {
                *digest = m.value;
                return true;
            }
            if (m.kind == Reply::Error) return LibraryError(m);
            if (m.kind == Reply::Progress) {
                if (m.state == kStateVerifying && progress_.phase != FastPhase::Verifying) {
                    progress_.phase = FastPhase::Verifying;
                    lastValue = 0;
                }
                if (m.value != lastValue || m.state != lastState) lastChange = Clock::now();
                lastValue = m.value;
                lastState = m.state;
                progress_.stateCode = m.state;
                progress_.bytesWritten = m.value;
                Report();
            }
            // Asked again after a pause, not at once: the library has work to do.
            std::this_thread::sleep_until(asked + kFinishPause);
        }
        if (Clock::now() - lastChange > kFinishSilence) {
            return Fail("The board stopped reporting progress while it wrote the flash",
                        "no progress for " + std::to_string(kFinishSilence.count() / 1000) + " s");
        }
    }
}

bool FastSession::Resend(std::deque<InFlight>& inFlight, int* attempts) {
    if (++*attempts > kBlockAttempts) {
        return Fail("The board did not take block " + std::to_string(inFlight.front().seq) + " in " +
                    std::to_string(kBlockAttempts) + " attempts at " + std::to_string(baud_) +
                    " baud; try a lower --baud (" + LowerRates(baud_) + ")");
    }
    for (const InFlight& block : inFlight) {
        ++result_.stats.retransmissions;
        if (!Send(block.frame)) return false;
    }
    return true;
}

bool FastSession::Stream(std::span<const uint8_t> image) {
    progress_.phase = FastPhase::Programming;
    Report();
    BlockCompressor compressor(image, blockSize_);
    std::deque<InFlight> inFlight;
    uint16_t next = 0;
    // Blocks below `allowed` may be sent: the library answers a block only when it
    // has room for the window behind it.
    uint16_t allowed = kWindow;
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
        if (Stopped()) return Fail("Flashing stopped; the flash holds part of the image");
        StreamBlock block;
        while (more && inFlight.size() < kWindow && static_cast<uint16_t>(allowed - next) - 1u < 0x8000u) {
            if (!(more = compressor.Next(&block))) break;
            const uint32_t argument = block.size | (block.stored ? fastwire::kStoredFlag : 0);
            inFlight.push_back({next, block.size, fastwire::EncodeFrame(Frame::Block, next, argument, block.payload)});
            result_.stats.compressedBytes += block.payload.size();
            ++result_.stats.blocks;
            if (inFlight.size() == 1) attempts = 1;
            if (!Send(inFlight.back().frame)) return false;
            rearm();
            ++next;
        }
        if (!compressor.Error().empty()) return Fail("The image could not be compressed", compressor.Error());
        if (inFlight.empty()) break;

        const Wait w = Await(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), &m);
        if (w == Wait::LinkLost) return false;
        if (w == Wait::TimedOut) {
            if (!Resend(inFlight, &attempts)) return false;
            rearm();
            continue;
        }
        // Answers name sequence numbers; blocks before them in flight are taken.
        auto takeBefore = [&](uint16_t seq) {
            bool any = false;
            while (!inFlight.empty() && static_cast<uint16_t>(seq - inFlight.front().seq) - 1u < 0x8000u) {
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
                progress_.bytesWritten = std::max<uint64_t>(progress_.bytesWritten, m.value);
                progress_.stateCode = m.state;
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
    }

    uint32_t digest = 0;
    if (!AwaitDigest(&digest)) return false;
    const uint32_t expected = fastwire::Crc32(image);
    if (digest != expected) {
        return Fail(StateText(kStateVerifyError), "the flash holds CRC-32 " + Hex(digest) + " where the image has " +
                                                      Hex(expected) + " (" + std::to_string(image.size()) + " bytes)");
    }
    progress_.bytesWritten = image.size();
    result_.verifiedLine = "Image verified: the flash holds CRC-32 " + Hex(digest) + ", as the image (" +
                           std::to_string(image.size()) + " bytes)";
    return true;
}

bool FastSession::Exchange(Frame kind, uint32_t argument, Reply answer, int attempts) {
    Message m;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!Send(fastwire::EncodeFrame(kind, 0, argument))) return false;
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

void FastSession::Quit() {
    // Back to the boot ROM's speed first, then the goodbye at that speed: the
    // library hands the board back without another change of speed, and what the
    // host sends next finds the boot ROM listening at 115200.
    if (baud_ != fastwire::kRomBaud) {
        // Unanswered, the library may have switched all the same: the goodbye decides.
        Exchange(Frame::Speed, fastwire::kRomBaud, Reply::Speed, kQuitAttempts);
        if (transport_.SetLineSpeed(fastwire::kRomBaud) == bootwire::Error::Ok) {
            baud_ = fastwire::kRomBaud;
            progress_.baud = baud_;
        }
    }
    scanner_.Clear();
    if (!Exchange(Frame::Quit, 0, Reply::Quit, kQuitAttempts) && !linkLost_) {
        result_.diagnostics.push_back(
            "the flash library did not confirm the end of the session; it returns to the boot ROM by itself "
            "within 10 s");
    }
}

}  // namespace sealbench
