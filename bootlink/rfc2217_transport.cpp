// Serial ports exported with Telnet COM-port control (RFC 2217), as ser2net
// serves them: the line settings of the boot ROM's line mode are sent to the
// server and confirmed from its answers before the port is used, data travels
// with 0xFF doubled, and every wait is bounded like the local serial port's.
#include <algorithm>
#include <array>
#include <optional>

#include "control_lines.h"
#include "line_clock.h"
#include "port_openers.h"
#include "tcp_stream.h"
#include "telnet_codec.h"

namespace bootwire {
namespace {

using namespace std::chrono_literals;
using Clock = TcpStream::Clock;
namespace tn = telnet;

constexpr auto kConnectLimit = 10s;
// Option negotiation and the answers to the line settings; ser2net answers at once.
constexpr auto kNegotiationLimit = 5s;
constexpr auto kIdleLimit = 3000ms;
constexpr uint32_t kLineBaud = 115200;
constexpr size_t kChunk = 65536;
// Data that comes before the line is set up belongs to an earlier session and is
// purged at the end; a server that floods it must not grow the host's memory.
constexpr size_t kEarlyDataLimit = 4096;

struct LineSettings {
    uint8_t parity = tn::kAskCurrent;
    uint8_t stopSize = tn::kAskCurrent;
};

LineSettings SettingsOf(int lineMode) {
    switch (lineMode) {
        case static_cast<int>(LineMode::OddParityTwoStop):
            return {tn::kParityOdd, tn::kStopTwo};
        case static_cast<int>(LineMode::NoParityOneStop):
            return {tn::kParityNone, tn::kStopOne};
        default:
            return {};  // asks for what the port has, and keeps it
    }
}

std::string ParityName(uint8_t parity) {
    switch (parity) {
        case tn::kParityNone:
            return "no parity";
        case tn::kParityOdd:
            return "odd parity";
        case tn::kParityEven:
            return "even parity";
        case 4:
            return "mark parity";
        case 5:
            return "space parity";
        default:
            return "parity " + std::to_string(parity);
    }
}

std::string StopName(uint8_t stop) {
    switch (stop) {
        case tn::kStopOne:
            return "1 stop bit";
        case tn::kStopTwo:
            return "2 stop bits";
        case tn::kStopOneAndHalf:
            return "1.5 stop bits";
        default:
            return "stop size " + std::to_string(stop);
    }
}

class Rfc2217Transport final : public Transport {
public:
    Rfc2217Transport(std::unique_ptr<TcpStream> stream, std::string text)
        : stream_(std::move(stream)), text_(std::move(text)) {}

    // Agrees on the options, then sets and confirms the line. Error::Ok, or what
    // failed with its detail in LastDetail().
    Error Negotiate(int lineMode);

    Error Send(const uint8_t* data, size_t n, const SendObserver* sent) override;
    Error Receive(uint8_t* data, size_t n, size_t* received) override;
    Error SetLineSpeed(int baud) override;
    Error SetControlLine(ControlLine line, bool on) override;
    std::string Describe() const override { return text_; }
    size_t StopSlice() const override { return kSerialStopSlice; }
    void SetReceiveTimeoutLimit(int milliseconds) override {
        idleLimit_ = milliseconds > 0 ? std::min<Clock::duration>(std::chrono::milliseconds(milliseconds), kIdleLimit)
                                      : Clock::duration(kIdleLimit);
    }

private:
    // Reads what arrives before `until`, answers negotiations, keeps answers and data.
    Error Pump(Clock::time_point until, std::string* detail);
    Error Write(const tn::Bytes& bytes, std::string* detail);
    // Pumps until `done` holds or the deadline passes.
    template <class Done>
    Error PumpUntil(Clock::time_point deadline, Done done, std::string* detail);
    const std::optional<tn::Bytes>& AnswerTo(tn::ComPort command) const {
        return answers_[static_cast<size_t>(command)];
    }
    void ForgetAnswer(tn::ComPort command) { answers_[static_cast<size_t>(command)].reset(); }
    size_t Pending() const { return pending_.size() - pendingAt_; }
    Error Failed(Error error, const std::string& detail) { return Fail(error, text_ + ": " + detail); }

    std::unique_ptr<TcpStream> stream_;
    std::string text_;
    tn::Decoder decoder_;
    tn::Options options_;
    std::array<std::optional<tn::Bytes>, 13> answers_;
    // Every SET-CONTROL answer since the last SetControlLine: the answers to the
    // requests of Negotiate, which nobody waits for, may still be on their way.
    std::vector<uint8_t> controlAnswers_;
    tn::Bytes pending_;  // data that arrived but was not asked for yet
    size_t pendingAt_ = 0;
    LineClock line_;
    Clock::duration idleLimit_ = kIdleLimit;  // how long a receive waits for a byte
    bool negotiating_ = true;                 // until Negotiate returns
};

Error Rfc2217Transport::Write(const tn::Bytes& bytes, std::string* detail) {
    return stream_->Write(bytes.data(), bytes.size(), Clock::now() + kIdleLimit, kIdleLimit, nullptr, detail);
}

Error Rfc2217Transport::Pump(Clock::time_point until, std::string* detail) {
    uint8_t buffer[16384];
    size_t got = 0;
    Error e = stream_->ReadAvailable(buffer, sizeof buffer, until, &got, detail);
    if (e != Error::Ok) {
        return e;
    }
    if (pendingAt_ > 0 && pendingAt_ == pending_.size()) {
        pending_.clear();
        pendingAt_ = 0;
    }
    std::vector<tn::Command> commands;
    decoder_.Feed(buffer, got, pending_, commands);
    if (negotiating_ && Pending() > kEarlyDataLimit) {
        pending_.erase(pending_.begin(), pending_.end() - static_cast<long>(kEarlyDataLimit));
        pendingAt_ = 0;
    }
    for (const tn::Command& command : commands) {
        if (!command.subnegotiation) {
            tn::Bytes reply = options_.Answer(command.verb, command.option);
            if (!reply.empty()) {
                if (Error w = Write(reply, detail); w != Error::Ok) {
                    return w;
                }
            }
        } else if (auto answer = tn::AnswerOf(command)) {
            if (answer->command == tn::ComPort::SetControl && answer->value.size() == 1 &&
                controlAnswers_.size() < 64) {
                controlAnswers_.push_back(answer->value[0]);
            }
            answers_[static_cast<size_t>(answer->command)] = std::move(answer->value);
        }
        // Line and modem state notifications are not asked for and not needed.
    }
    return Error::Ok;
}

template <class Done>
Error Rfc2217Transport::PumpUntil(Clock::time_point deadline, Done done, std::string* detail) {
    while (!done()) {
        if (Clock::now() >= deadline) {
            return Error::Timeout;
        }
        Error e = Pump(deadline, detail);
        if (e != Error::Ok && e != Error::Timeout) {
            return e;
        }
    }
    return Error::Ok;
}

Error Rfc2217Transport::Negotiate(int lineMode) {
    struct Settled {
        bool& negotiating;
        ~Settled() { negotiating = false; }
    } settled{negotiating_};
    std::string detail;
    const auto deadline = Clock::now() + kNegotiationLimit;
    if (Error e = Write(options_.Opening(), &detail); e != Error::Ok) {
        return Failed(e, detail);
    }
    Error e = PumpUntil(
        deadline, [&] { return options_.Settled() || options_.Refused(); }, &detail);
    if (e == Error::Gone) {
        // ser2net hangs up at once when it cannot open its device.
        return Failed(e, detail + " before the port was set up (is the server's serial device there and free?)");
    }
    if (e != Error::Ok && e != Error::Timeout) {
        return Failed(e, detail);
    }
    const std::string rawHint = "; if it is a raw TCP port, use socket:// instead";
    if (options_.Refused()) {
        return Failed(Error::Settings,
                      "the server refused binary transmission or COM port control (RFC 2217)" + rawHint);
    }
    if (!options_.ComPortAgreed()) {
        return Failed(Error::Settings, "the server did not agree to COM port control (RFC 2217) within " +
                                           std::to_string(kNegotiationLimit.count()) + " s" + rawHint);
    }

    const LineSettings wanted = SettingsOf(lineMode);
    answers_ = {};
    tn::Bytes requests = tn::SetBaudRate(kLineBaud);
    for (const tn::Bytes& r :
         {tn::SetByte(tn::ComPort::SetDataSize, 8), tn::SetByte(tn::ComPort::SetParity, wanted.parity),
          tn::SetByte(tn::ComPort::SetStopSize, wanted.stopSize),
          tn::SetByte(tn::ComPort::SetControl, tn::kControlNoFlowControl),
          // DTR and RTS are asked for but not waited for: a server in
          // front of a pty cannot set them and never answers.
          tn::SetByte(tn::ComPort::SetControl, tn::kControlDtrOn),
          tn::SetByte(tn::ComPort::SetControl, tn::kControlRtsOn),
          tn::SetByte(tn::ComPort::PurgeData, tn::kPurgeBoth)}) {
        requests.insert(requests.end(), r.begin(), r.end());
    }
    if (Error w = Write(requests, &detail); w != Error::Ok) {
        return Failed(w, detail);
    }
    const tn::ComPort confirmed[] = {tn::ComPort::SetBaudRate, tn::ComPort::SetDataSize, tn::ComPort::SetParity,
                                     tn::ComPort::SetStopSize};
    e = PumpUntil(
        Clock::now() + kNegotiationLimit,
        [&] {
            for (tn::ComPort c : confirmed) {
                if (!AnswerTo(c)) {
                    return false;
                }
            }
            return true;
        },
        &detail);
    if (e == Error::Timeout) {
        return Failed(Error::Settings, "the server did not confirm the line settings within " +
                                           std::to_string(kNegotiationLimit.count()) + " s");
    }
    if (e != Error::Ok) {
        return Failed(e, detail);
    }

    const auto baud = tn::BaudOf(*AnswerTo(tn::ComPort::SetBaudRate));
    const auto& size = *AnswerTo(tn::ComPort::SetDataSize);
    const auto& parity = *AnswerTo(tn::ComPort::SetParity);
    const auto& stop = *AnswerTo(tn::ComPort::SetStopSize);
    const uint8_t gotParity = parity.size() == 1 ? parity[0] : 0;
    const uint8_t gotStop = stop.size() == 1 ? stop[0] : 0;
    const bool ok = baud == kLineBaud && size.size() == 1 && size[0] == 8 &&
                    (wanted.parity == tn::kAskCurrent || gotParity == wanted.parity) &&
                    (wanted.stopSize == tn::kAskCurrent || gotStop == wanted.stopSize);
    if (!ok) {
        std::string want = std::to_string(kLineBaud) + " baud, 8 data bits";
        if (wanted.parity != tn::kAskCurrent) {
            want += ", " + ParityName(wanted.parity) + ", " + StopName(wanted.stopSize);
        }
        return Failed(Error::Settings, "the server refused the line settings: it holds " +
                                           (baud ? std::to_string(*baud) : std::string("an unknown")) + " baud, " +
                                           (size.size() == 1 ? std::to_string(size[0]) : std::string("?")) +
                                           " data bits, " + ParityName(gotParity) + ", " + StopName(gotStop) +
                                           " instead of " + want);
    }
    line_.SetBitsPerByte(1 + 8 + (gotParity == tn::kParityNone ? 0 : 1) + (gotStop == tn::kStopOne ? 1 : 2));
    // Whatever the target sent before the purge belongs to an earlier session.
    pending_.clear();
    pendingAt_ = 0;
    return Error::Ok;
}

Error Rfc2217Transport::Send(const uint8_t* data, size_t n, const SendObserver* sent) {
    // Like the local port: twice the line time plus a second, counted from when the
    // line is through with what was sent before; a line that is idle and takes
    // nothing for 3 s is stuck.
    const auto deadline = line_.IdleAt(Clock::now()) + 2 * line_.LineTime(n) + 1s;
    tn::Bytes escaped;
    escaped.reserve(2 * kChunk);
    std::string detail;
    for (size_t offset = 0; offset < n; offset += kChunk) {
        const size_t piece = std::min(kChunk, n - offset);
        escaped.clear();
        tn::AppendEscaped(data + offset, piece, escaped);
        const auto now = Clock::now();
        const auto stuck = std::min(deadline, line_.StuckAt(now, kIdleLimit));
        Error e = stream_->Write(escaped.data(), escaped.size(), stuck,
                                 std::chrono::duration_cast<std::chrono::milliseconds>(stuck - now), nullptr, &detail);
        if (e != Error::Ok) {
            if (e == Error::Timeout) {
                detail = "the target stopped taking data (" + std::to_string(offset) + " of " + std::to_string(n) +
                         " bytes sent)";
            }
            return Failed(e, detail);
        }
        line_.Queue(piece, now);
        if (sent) {
            (*sent)(piece);
        }
    }
    return Error::Ok;
}

Error Rfc2217Transport::Receive(uint8_t* data, size_t n, size_t* received) {
    const auto start = line_.IdleAt(Clock::now());
    auto deadline = start + kIdleLimit + std::chrono::milliseconds(5 * static_cast<long long>(n));
    if (idleLimit_ < kIdleLimit) {
        // The cap bounds the waiting, not the time the bytes need on the line.
        deadline = std::min(deadline, start + idleLimit_ + 2 * line_.LineTime(n));
    }
    auto lastByte = start;
    size_t done = 0;
    std::string detail;
    Error result = Error::Ok;
    for (;;) {
        const size_t take = std::min(n - done, Pending());
        std::copy_n(pending_.begin() + static_cast<long>(pendingAt_), take, data + done);
        pendingAt_ += take;
        done += take;
        if (done == n) {
            break;
        }
        const auto until = std::min(deadline, lastByte + idleLimit_);
        if (Clock::now() >= until) {
            result = Failed(Error::Timeout, "the target did not answer in time (" + std::to_string(done) + " of " +
                                                std::to_string(n) + " bytes)");
            break;
        }
        Error e = Pump(until, &detail);
        if (e != Error::Ok && e != Error::Timeout) {
            result = Failed(e, detail);
            break;
        }
        if (Pending() > 0) {
            lastByte = Clock::now();
            line_.Answered(lastByte);
        }
    }
    *received = done;
    return result;
}

Error Rfc2217Transport::SetLineSpeed(int baud) {
    if (baud <= 0) {
        return Failed(Error::Settings, std::to_string(baud) + " is not a line speed");
    }
    std::string detail;
    ForgetAnswer(tn::ComPort::SetBaudRate);
    if (Error e = Write(tn::SetBaudRate(static_cast<uint32_t>(baud)), &detail); e != Error::Ok) {
        return Failed(e, detail);
    }
    // The server takes the request after the data queued before it.
    Error e = PumpUntil(
        line_.IdleAt(Clock::now()) + kIdleLimit, [&] { return AnswerTo(tn::ComPort::SetBaudRate).has_value(); },
        &detail);
    if (e == Error::Timeout) {
        return Failed(Error::Timeout, "the server did not confirm the line speed of " + std::to_string(baud) + " baud");
    }
    if (e != Error::Ok) {
        return Failed(e, detail);
    }
    const auto now = tn::BaudOf(*AnswerTo(tn::ComPort::SetBaudRate));
    if (now != static_cast<uint32_t>(baud)) {
        if (now && *now > 0) {
            line_.SetBaud(static_cast<int>(*now));
        }
        return Failed(Error::Settings, "the server refused " + std::to_string(baud) + " baud; the line runs at " +
                                           (now ? std::to_string(*now) : std::string("an unknown speed")));
    }
    line_.SetBaud(baud);
    return Error::Ok;
}

Error Rfc2217Transport::SetControlLine(ControlLine line, bool on) {
    const bool dtr = line == ControlLine::Dtr;
    const uint8_t wanted =
        dtr ? (on ? tn::kControlDtrOn : tn::kControlDtrOff) : (on ? tn::kControlRtsOn : tn::kControlRtsOff);
    const uint8_t other =
        dtr ? (on ? tn::kControlDtrOff : tn::kControlDtrOn) : (on ? tn::kControlRtsOff : tn::kControlRtsOn);
    std::string detail;
    controlAnswers_.clear();
    if (Error e = Write(tn::SetByte(tn::ComPort::SetControl, wanted), &detail); e != Error::Ok) {
        return Failed(e, detail);
    }
    // A jig acts on the line at once, so the caller must know that it did before
    // its next step; the server answers after the data queued before the request.
    auto confirmed = [&] {
        return std::find(controlAnswers_.begin(), controlAnswers_.end(), wanted) != controlAnswers_.end();
    };
    Error e = PumpUntil(line_.IdleAt(Clock::now()) + kIdleLimit, confirmed, &detail);
    if (e == Error::Ok) {
        return Error::Ok;
    }
    if (e != Error::Timeout) {
        return Failed(e, detail);
    }
    const std::string text = ControlLineText(line, on);
    if (std::find(controlAnswers_.begin(), controlAnswers_.end(), other) != controlAnswers_.end()) {
        return Failed(Error::Settings, "the server refused " + text + ": it holds " + ControlLineText(line, !on));
    }
    return Failed(Error::Timeout,
                  "the server did not confirm " + text + " within " +
                      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kIdleLimit).count()) +
                      " s (a server in front of a pseudo-terminal has no DTR/RTS lines to set)");
}

}  // namespace

std::unique_ptr<Transport> OpenRfc2217(const NetworkAddress& address, int lineMode, Error* error, std::string* detail) {
    auto stream = TcpStream::Connect(address.host, address.port, kConnectLimit, error, detail);
    if (!stream) {
        *detail = address.text + ": " + *detail;
        return nullptr;
    }
    auto transport = std::make_unique<Rfc2217Transport>(std::move(stream), address.text);
    *error = transport->Negotiate(lineMode);
    if (*error == Error::Settings) {
        // As with a local port that refused its settings, the port stays open and the caller hears of it.
        *detail = transport->LastDetail();
        return transport;
    }
    if (*error != Error::Ok) {
        *detail = transport->LastDetail();
        return nullptr;
    }
    return transport;
}

}  // namespace bootwire
