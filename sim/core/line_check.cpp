#include "core/line_check.h"

#include "core/cpu.h"

namespace vsim {

unsigned BaudOf(speed_t code) {
    struct Entry {
        speed_t code;
        unsigned baud;
    };
    static constexpr Entry kSpeeds[] = {
        {B0, 0},
        {B50, 50},
        {B75, 75},
        {B110, 110},
        {B134, 134},
        {B150, 150},
        {B200, 200},
        {B300, 300},
        {B600, 600},
        {B1200, 1200},
        {B1800, 1800},
        {B2400, 2400},
        {B4800, 4800},
        {B9600, 9600},
        {B19200, 19200},
        {B38400, 38400},
        {B57600, 57600},
        {B115200, 115200},
        {B230400, 230400},
        {B460800, 460800},
        {B921600, 921600},
#ifdef B1000000
        {B500000, 500000},
        {B576000, 576000},
        {B1000000, 1000000},
        {B1152000, 1152000},
        {B1500000, 1500000},
        {B2000000, 2000000},
        {B2500000, 2500000},
        {B3000000, 3000000},
        {B3500000, 3500000},
        {B4000000, 4000000},
#endif
    };
    for (const Entry& e : kSpeeds) {
        if (e.code == code) return e.baud;
    }
    return 0;
}

bool RatesMatch(unsigned a, unsigned b) {
    const uint64_t high = a > b ? a : b;
    const uint64_t low = a > b ? b : a;
    return (high - low) * 50 <= high;
}

std::optional<std::string> LineCheck::Check(const termios& settings, unsigned uartBaud) {
    unsigned baud = BaudOf(cfgetospeed(&settings));
    unsigned stopBits = (settings.c_cflag & CSTOPB) ? 2 : 1;
    if (seen_ && baud == lastBaud_ && stopBits == lastStopBits_ && uartBaud == lastUartBaud_) return std::nullopt;
    seen_ = true;
    lastBaud_ = baud;
    lastStopBits_ = stopBits;
    lastUartBaud_ = uartBaud;

    const CpuTraits& traits = TraitsOf(cpu_);
    if (RatesMatch(baud, uartBaud) && stopBits == traits.stopBits) return std::nullopt;
    return "line settings mismatch: the host uses " + std::to_string(baud) + " baud, " + std::to_string(stopBits) +
           " stop bit" + (stopBits == 1 ? "" : "s") + "; the " + std::string(traits.name) + " UART runs at " +
           std::to_string(uartBaud) + " baud, " + std::to_string(traits.stopBits) + " stop bit" +
           (traits.stopBits == 1 ? "" : "s") + (RatesMatch(baud, uartBaud) ? "" : ": bytes arrive garbled");
}

std::vector<uint8_t> LineNoise::Garble(const uint8_t* data, size_t n, unsigned senderBaud, unsigned receiverBaud) {
    if (senderBaud != lastSender_ || receiverBaud != lastReceiver_) {
        lastSender_ = senderBaud;
        lastReceiver_ = receiverBaud;
        sent_ = 0;
        received_ = 0;
    }
    std::vector<uint8_t> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        ++sent_;
        // A faster sender: the receiver frames about one byte while several pass.
        if (senderBaud > receiverBaud && receiverBaud != 0 &&
            received_ * senderBaud >= sent_ * static_cast<uint64_t>(receiverBaud))
            continue;
        ++received_;
        seed_ = seed_ * 1664525u + 1013904223u;
        // A nonzero mask: the byte that arrives is never the one sent.
        const auto mask = static_cast<uint8_t>(1 + (seed_ >> 24) % 255);
        out.push_back(static_cast<uint8_t>(data[i] ^ mask));
    }
    return out;
}

}  // namespace vsim
