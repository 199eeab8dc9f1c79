// Compares the serial line a host set up on the pty with the board's UART, and
// garbles what crosses a line whose two ends disagree on the speed, as a real
// UART would: a host that switches speed at the wrong moment sees garbage. A pty
// keeps the speed and the stop bits but cannot hold parity, so parity is not
// judged, and stop bits are only reported.
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/program.h"

namespace vsim {

// The speed a termios speed code stands for, in baud (0 when unknown).
unsigned BaudOf(speed_t code);

// True when two UARTs at these rates understand each other: within the 2 % a
// UART's sampling tolerates.
bool RatesMatch(unsigned a, unsigned b);

class LineCheck {
public:
    explicit LineCheck(Cpu cpu) : cpu_(cpu) {}
    // A message when the host's settings differ from the UART's line (uartBaud and
    // the processor's stop bits) and have changed since the last call; nothing
    // while they stay the same.
    std::optional<std::string> Check(const termios& settings, unsigned uartBaud = 115200);

private:
    Cpu cpu_;
    bool seen_ = false;
    unsigned lastBaud_ = 0;
    unsigned lastStopBits_ = 0;
    unsigned lastUartBaud_ = 0;
};

// What a receiver makes of bytes sent at another speed, or over a cable that
// cannot carry the speed: a faster sender's bytes run together, about one byte
// for each `ratio` of them; every byte that arrives is wrong.
class LineNoise {
public:
    // senderBaud == receiverBaud garbles every byte but keeps their number.
    std::vector<uint8_t> Garble(const uint8_t* data, size_t n, unsigned senderBaud, unsigned receiverBaud);

private:
    uint32_t seed_ = 0x9E3779B9u;
    uint64_t sent_ = 0;      // bytes sent at the current pair of speeds
    uint64_t received_ = 0;  // bytes made of them
    unsigned lastSender_ = 0;
    unsigned lastReceiver_ = 0;
};

}  // namespace vsim
