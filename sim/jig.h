// A factory jig around the virtual board (vireo-sim --jig): the host's RTS line
// holds the board in reset while it is on, and DTR is the boot-mode pin, read when
// RTS lets go: on, the boot ROM waits for commands; off, the firmware in flash
// runs. Without the jig the lines are wired to nothing and the board stays in its
// boot ROM.
#pragma once

#include "core/board.h"

namespace vsim {

class Jig {
public:
    Jig(Board& board, bool wired) : board_(board), wired_(wired) {}

    bool Wired() const { return wired_; }
    // Power comes on with both lines off: the board boots its firmware.
    void PowerOn();
    // The lines as the host now holds them (the host leaving drops both).
    void Lines(bool dtr, bool rts);
    // The reset button: in a jig the board starts again as the boot-mode pin says.
    void ResetButton();

private:
    Board& board_;
    const bool wired_;
    bool dtr_ = false;
    bool rts_ = false;
};

}  // namespace vsim
