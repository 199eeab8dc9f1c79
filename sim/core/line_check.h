// Compares the serial line a host set up on the pty with the one the chosen
// processor's boot ROM expects. A pty keeps the speed and the stop bits but
// cannot hold parity, so parity is not judged.
#pragma once

#include <termios.h>

#include <optional>
#include <string>

#include "core/program.h"

namespace vsim {

// The speed a termios speed code stands for, in baud (0 when unknown).
unsigned BaudOf(speed_t code);

class LineCheck {
public:
    explicit LineCheck(Cpu cpu) : cpu_(cpu) {}
    // A message when the host's settings differ from the ROM's line and have changed
    // since the last call; nothing while they stay the same.
    std::optional<std::string> Check(const termios& settings);

private:
    Cpu cpu_;
    bool seen_ = false;
    unsigned lastBaud_ = 0;
    unsigned lastStopBits_ = 0;
};

}  // namespace vsim
