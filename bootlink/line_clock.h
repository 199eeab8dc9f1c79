// The serial line at the far end of a network port, as a clock. TCP and the
// server queue far more than a UART holds, so a send returns long before the
// line has carried it; waits for the target are counted from when the line
// would be idle again, never from when the bytes left this host.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>

namespace bootwire {

class LineClock {
public:
    using Clock = std::chrono::steady_clock;

    void SetBaud(int baud) { baud_ = std::max(baud, 1); }
    void SetBitsPerByte(int bits) { bitsPerByte_ = bits; }
    int Baud() const { return baud_; }

    Clock::duration LineTime(size_t bytes) const {
        return std::chrono::microseconds(static_cast<long long>(bytes) * bitsPerByte_ * 1'000'000 / baud_);
    }
    // When the line is done with everything queued so far (now, when it already is).
    Clock::time_point IdleAt(Clock::time_point now) const { return std::max(now, freeAt_); }
    // n more bytes were handed on; the line starts on them once it is idle.
    void Queue(size_t bytes, Clock::time_point now) { freeAt_ = IdleAt(now) + LineTime(bytes); }
    // The target answered: it has read everything sent before.
    void Answered(Clock::time_point now) { freeAt_ = std::min(freeAt_, now); }
    // How long a write may go without progress: a line that is through with
    // everything queued and still takes nothing for `idle` is stuck. (TCP may hold
    // back its window until a whole segment is free, 64 KiB on loopback: far
    // longer than a slow line's pause between bytes.)
    Clock::time_point StuckAt(Clock::time_point now, Clock::duration idle) const { return IdleAt(now) + idle; }

private:
    int baud_ = 115200;
    int bitsPerByte_ = 10;
    Clock::time_point freeAt_{};
};

}  // namespace bootwire
