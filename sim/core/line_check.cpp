#include "core/line_check.h"

#include "core/cpu.h"

namespace vsim {

unsigned BaudOf(speed_t code) {
    struct Entry {
        speed_t code;
        unsigned baud;
    };
    static constexpr Entry kSpeeds[] = {
        {B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},     {B134, 134},     {B150, 150},
        {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},   {B2400, 2400},
        {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const Entry& e : kSpeeds) {
        if (e.code == code) return e.baud;
    }
    return 0;
}

std::optional<std::string> LineCheck::Check(const termios& settings) {
    unsigned baud = BaudOf(cfgetospeed(&settings));
    unsigned stopBits = (settings.c_cflag & CSTOPB) ? 2 : 1;
    if (seen_ && baud == lastBaud_ && stopBits == lastStopBits_) return std::nullopt;
    seen_ = true;
    lastBaud_ = baud;
    lastStopBits_ = stopBits;

    const CpuTraits& traits = TraitsOf(cpu_);
    if (baud == kLineBaud && stopBits == traits.stopBits) return std::nullopt;
    return "line settings mismatch: the host uses " + std::to_string(baud) + " baud, " + std::to_string(stopBits) +
           " stop bit" + (stopBits == 1 ? "" : "s") + "; the " + std::string(traits.name) + " boot ROM expects " +
           std::to_string(kLineBaud) + " baud, " + std::to_string(traits.stopBits) + " stop bit" +
           (traits.stopBits == 1 ? "" : "s");
}

}  // namespace vsim
