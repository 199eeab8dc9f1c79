// Serial ports exported as raw TCP (ser2net's plain accepter, terminal servers'
// raw mode): bytes travel as they are and the line settings are the server's.
// A server that cannot give us its port says so in a line of text on the same
// stream and hangs up; that line is told apart from the board's answers.
#include <algorithm>
#include <deque>
#include <string_view>

#include "control_lines.h"
#include "line_clock.h"
#include "port_openers.h"
#include "tcp_stream.h"

namespace bootwire {
namespace {

using namespace std::chrono_literals;
using Clock = TcpStream::Clock;

constexpr auto kConnectLimit = 10s;
constexpr auto kIdleLimit = 3000ms;
constexpr auto kRefusalLineLimit = 1000ms;  // the rest of a refusal comes in the same segment
constexpr size_t kRefusalLineMax = 160;
constexpr size_t kChunk = 8192;

// The lines ser2net sends in place of the port, and what each means for the user.
struct ServerRefusal {
    std::string_view start;
    Error error;
    const char* meaning;
};

constexpr ServerRefusal kRefusals[] = {
    {"Port already in use", Error::Busy,
     "another client is connected to this port; end that session, or let the server drop it for newcomers "
     "(ser2net's kickolduser option)"},
    {"Port's device already in use", Error::Busy, "another program on the server holds its serial device"},
    {"Port's device failed open", Error::NotFound,
     "the server could not open its serial device: is the board cabled, and does the server's configuration name "
     "the right device?"},
    {"Device open failure", Error::NotFound,
     "the server could not open its serial device: is the board cabled, and does the server's configuration name "
     "the right device?"},
    {"Port disabled", Error::NotFound, "the port is disabled in the server's configuration"},
};

// True while `text` may still grow into one of the refusals (or already starts with one).
bool MayBeRefusal(std::string_view text) {
    return !text.empty() && std::any_of(std::begin(kRefusals), std::end(kRefusals), [&](const ServerRefusal& r) {
        const size_t n = std::min(text.size(), r.start.size());
        return text.substr(0, n) == r.start.substr(0, n);
    });
}

const ServerRefusal* RefusalOf(std::string_view line) {
    for (const ServerRefusal& r : kRefusals) {
        if (line.substr(0, r.start.size()) == r.start) {
            return &r;
        }
    }
    return nullptr;
}

class RawSocketTransport final : public Transport {
public:
    RawSocketTransport(std::unique_ptr<TcpStream> stream, std::string text, int bitsPerByte)
        : stream_(std::move(stream)), text_(std::move(text)) {
        // The line is what the server made it; the boot ROM's own line is the best guess.
        line_.SetBitsPerByte(bitsPerByte);
    }

    // Drops what the target sent before we came, unless it is the server's refusal:
    // then that is the error, with its detail.
    Error Purge(std::string* detail) {
        uint8_t buffer[4096];
        size_t got = 0;
        std::string ignored;
        bool first = true;
        while (stream_->ReadAvailable(buffer, sizeof buffer, Clock::now(), &got, &ignored) == Error::Ok && got > 0) {
            if (first && CheckRefusal(buffer, got) != Error::Ok) {
                *detail = refusalDetail_;
                return refusal_;
            }
            first = false;
            ahead_.clear();
        }
        return Error::Ok;
    }

    Error Send(const uint8_t* data, size_t n, const SendObserver* sent) override {
        if (refusal_ != Error::Ok) {
            return Fail(refusal_, refusalDetail_);
        }
        // Bounded as over RFC 2217: by the line's time for the bytes, and a line that
        // is idle and takes nothing for 3 s is stuck.
        const auto deadline = line_.IdleAt(Clock::now()) + 2 * line_.LineTime(n) + 1s;
        std::string detail;
        for (size_t offset = 0; offset < n; offset += kChunk) {
            const size_t piece = std::min(kChunk, n - offset);
            const auto now = Clock::now();
            const auto stuck = std::min(deadline, line_.StuckAt(now, kIdleLimit));
            Error e =
                stream_->Write(data + offset, piece, stuck,
                               std::chrono::duration_cast<std::chrono::milliseconds>(stuck - now), nullptr, &detail);
            if (e != Error::Ok) {
                if (e == Error::Timeout) {
                    detail = "the target stopped taking data (" + std::to_string(offset) + " of " + std::to_string(n) +
                             " bytes sent)";
                }
                if (e == Error::Gone && !answered_ && RefusalWaiting()) {
                    return Fail(refusal_, refusalDetail_);
                }
                return Fail(e, text_ + ": " + detail);
            }
            line_.Queue(piece, now);
            if (sent) {
                (*sent)(piece);
            }
        }
        return Error::Ok;
    }

    Error Receive(uint8_t* data, size_t n, size_t* received) override {
        *received = 0;
        if (refusal_ != Error::Ok) {
            return Fail(refusal_, refusalDetail_);
        }
        const auto start = line_.IdleAt(Clock::now());
        auto deadline = start + kIdleLimit + std::chrono::milliseconds(5 * static_cast<long long>(n));
        if (idleLimit_ < kIdleLimit) {
            // The cap bounds the waiting, not the time the bytes need on the line.
            deadline = std::min(deadline, start + idleLimit_ + 2 * line_.LineTime(n));
        }
        auto lastByte = start;
        size_t done = 0;
        Error result = Error::Ok;
        std::string detail;
        while (done < n) {
            const auto until = std::min(deadline, lastByte + idleLimit_);
            size_t got = 0;
            Error e = Clock::now() < until ? Read(data + done, n - done, until, &got, &detail) : Error::Timeout;
            if (got > 0) {
                if (!answered_ && CheckRefusal(data + done, got) != Error::Ok) {
                    return Fail(refusal_, refusalDetail_);
                }
                answered_ = true;
                done += got;
                lastByte = Clock::now();
                line_.Answered(lastByte);
                continue;
            }
            if (e == Error::Timeout) {
                if (Clock::now() < until) {
                    continue;
                }
                result = Fail(Error::Timeout, text_ + ": the target did not answer in time (" + std::to_string(done) +
                                                  " of " + std::to_string(n) + " bytes)");
                break;
            }
            result = Fail(e, text_ + ": " + detail);
            break;
        }
        *received = done;
        return result;
    }

    Error SetLineSpeed(int baud) override {
        return Fail(Error::Unsupported, text_ + " is raw TCP: its line speed cannot be set to " + std::to_string(baud) +
                                            " from here (use an rfc2217:// port)");
    }

    Error SetControlLine(ControlLine line, bool on) override {
        return Fail(Error::Unsupported, text_ + " is raw TCP: " + ControlLineText(line, on) +
                                            " cannot be set from here (use an rfc2217:// port)");
    }

    std::string Describe() const override { return text_; }
    size_t StopSlice() const override { return kSerialStopSlice; }

    void SetReceiveTimeoutLimit(int milliseconds) override {
        idleLimit_ = milliseconds > 0 ? std::min<Clock::duration>(std::chrono::milliseconds(milliseconds), kIdleLimit)
                                      : Clock::duration(kIdleLimit);
    }

private:
    // Bytes read ahead while telling a refusal from an answer come first.
    Error Read(uint8_t* data, size_t max, Clock::time_point until, size_t* got, std::string* detail) {
        if (ahead_.empty()) {
            return stream_->ReadAvailable(data, max, until, got, detail);
        }
        *got = std::min(max, ahead_.size());
        std::copy_n(ahead_.begin(), *got, data);
        ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(*got));
        return Error::Ok;
    }

    // Looks at the first bytes the connection delivered: when they may be a server's
    // refusal, reads on to the end of its line. Error::Ok when they are an answer
    // after all; the bytes read on are kept for the answers that follow.
    Error CheckRefusal(const uint8_t* data, size_t n) {
        std::string line(reinterpret_cast<const char*>(data), n);
        if (!MayBeRefusal(line)) {
            return Error::Ok;
        }
        const size_t taken = line.size();
        const auto until = Clock::now() + kRefusalLineLimit;
        std::string ignored;
        while (line.find('\n') == std::string::npos && line.size() < kRefusalLineMax && MayBeRefusal(line)) {
            uint8_t buffer[kRefusalLineMax];
            size_t got = 0;
            Error e = Clock::now() < until ? stream_->ReadAvailable(buffer, sizeof buffer, until, &got, &ignored)
                                           : Error::Timeout;
            if (got == 0 && e != Error::Ok) {
                break;  // the server hangs up after its line, or the line ends here
            }
            line.append(reinterpret_cast<const char*>(buffer), got);
        }
        const std::string_view whole = std::string_view(line).substr(0, line.find_first_of("\r\n"));
        if (const ServerRefusal* refusal = RefusalOf(whole)) {
            refusal_ = refusal->error;
            refusalDetail_ =
                text_ + ": the server refused the connection with \"" + std::string(whole) + "\": " + refusal->meaning;
            return refusal_;
        }
        ahead_.insert(ahead_.end(), line.begin() + static_cast<std::ptrdiff_t>(taken), line.end());
        return Error::Ok;
    }

    // After the server hung up on a send: whether its refusal is still there to read.
    bool RefusalWaiting() {
        uint8_t buffer[kRefusalLineMax];
        size_t got = 0;
        std::string ignored;
        stream_->ReadAvailable(buffer, sizeof buffer, Clock::now(), &got, &ignored);
        return got > 0 && CheckRefusal(buffer, got) != Error::Ok;
    }

    std::unique_ptr<TcpStream> stream_;
    std::string text_;
    LineClock line_;
    Clock::duration idleLimit_ = kIdleLimit;  // how long a receive waits for a byte
    bool answered_ = false;                   // the board has answered: no refusal can come any more
    std::deque<uint8_t> ahead_;
    Error refusal_ = Error::Ok;
    std::string refusalDetail_;
};

std::string LineNote(int lineMode) {
    switch (lineMode) {
        case static_cast<int>(LineMode::OddParityTwoStop):
            return "115200 baud, 8 data bits, odd parity, 2 stop bits";
        case static_cast<int>(LineMode::NoParityOneStop):
            return "115200 baud, 8 data bits, no parity, 1 stop bit";
        default:
            return "115200 baud, 8 data bits";
    }
}

}  // namespace

std::unique_ptr<Transport> OpenRawSocket(const NetworkAddress& address, int lineMode, Error* error,
                                         std::string* detail) {
    auto stream = TcpStream::Connect(address.host, address.port, kConnectLimit, error, detail);
    if (!stream) {
        *detail = address.text + ": " + *detail;
        return nullptr;
    }
    const int bitsPerByte = lineMode == static_cast<int>(LineMode::OddParityTwoStop) ? 12 : 10;
    auto transport = std::make_unique<RawSocketTransport>(std::move(stream), address.text, bitsPerByte);
    if (Error refused = transport->Purge(detail); refused != Error::Ok) {
        *error = refused;
        return nullptr;
    }
    *error = Error::Ok;
    *detail = address.text +
              " is raw TCP: line settings cannot be set from here; the server must already run the line at " +
              LineNote(lineMode) + " (rfc2217:// ports are set by Sealbench)";
    return transport;
}

}  // namespace bootwire
