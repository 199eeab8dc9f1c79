// Holds one direction of a serial line to its real rate. The schedule counts
// bytes from the start of a busy stretch and compares with the clock, so late
// wake-ups are caught up and the line never drifts slower or faster than its rate.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vsim {

class Pacer {
public:
    using Clock = std::chrono::steady_clock;

    Pacer(unsigned baud, unsigned bitsPerByte) : baud_(baud), bitsPerByte_(bitsPerByte) {}

    unsigned Baud() const { return baud_; }
    // The line changed speed: the next byte starts a schedule at the new rate.
    void SetBaud(unsigned baud) {
        if (baud == baud_ || baud == 0) return;
        baud_ = baud;
        busy_ = false;
    }

    // Bytes that may move now. The first call after Idle() starts a new stretch.
    size_t Allowed(Clock::time_point now);
    void Took(size_t n) { moved_ += n; }
    // The line ran dry: the next byte starts a new schedule instead of using up time
    // the line spent idle.
    void Idle() { busy_ = false; }
    // When `n` more bytes than moved so far may move (meaningful while busy).
    Clock::time_point When(size_t n) const;

private:
    unsigned baud_;
    unsigned bitsPerByte_;
    bool busy_ = false;
    Clock::time_point start_{};
    uint64_t moved_ = 0;
};

}  // namespace vsim
