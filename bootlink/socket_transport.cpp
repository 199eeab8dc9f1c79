// Serial ports exported as raw TCP (ser2net's plain accepter, terminal servers'
// raw mode): bytes travel as they are and the line settings are the server's.
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
constexpr size_t kChunk = 8192;

class RawSocketTransport final : public Transport {
public:
    RawSocketTransport(std::unique_ptr<TcpStream> stream, std::string text, int bitsPerByte)
        : stream_(std::move(stream)), text_(std::move(text)) {
        // The line is what the server made it; the boot ROM's own line is the best guess.
        line_.SetBitsPerByte(bitsPerByte);
    }

    // Drops what the target sent before we came.
    void Purge() {
        uint8_t buffer[4096];
        size_t got = 0;
        std::string detail;
        while (stream_->ReadAvailable(buffer, sizeof buffer, Clock::now(), &got, &detail) == Error::Ok && got > 0) {
        }
    }

    Error Send(const uint8_t* data, size_t n, const SendObserver* sent) override {
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
            Error e = Clock::now() < until ? stream_->ReadAvailable(data + done, n - done, until, &got, &detail)
                                           : Error::Timeout;
            if (got > 0) {
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
    std::unique_ptr<TcpStream> stream_;
    std::string text_;
    LineClock line_;
    Clock::duration idleLimit_ = kIdleLimit;  // how long a receive waits for a byte
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
    transport->Purge();
    *error = Error::Ok;
    *detail = address.text +
              " is raw TCP: line settings cannot be set from here; the server must already run the line at " +
              LineNote(lineMode) + " (rfc2217:// ports are set by Sealbench)";
    return transport;
}

}  // namespace bootwire
