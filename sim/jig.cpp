#include "jig.h"

#include "log.h"

namespace vsim {

void Jig::PowerOn() {
    if (!wired_) return;
    LogLine("jig: powered on with DTR and RTS off");
    board_.HoldInReset();
    board_.Release(false);
}

void Jig::Lines(bool dtr, bool rts) {
    if (!wired_) return;
    if (dtr != dtr_) LogLine(std::string("jig: DTR ") + (dtr ? "on (boot-mode pin set)" : "off (boot-mode pin clear)"));
    dtr_ = dtr;
    if (rts == rts_) return;
    rts_ = rts;
    LogLine(std::string("jig: RTS ") + (rts ? "on (reset held)" : "off (reset released)"));
    if (rts)
        board_.HoldInReset();
    else
        board_.Release(dtr_);
}

void Jig::ResetButton() {
    if (!wired_) {
        board_.Reset();
        return;
    }
    if (rts_) {
        LogLine("jig: reset button pressed while RTS holds the board in reset; nothing changes");
        return;
    }
    board_.HoldInReset();
    board_.Release(dtr_);
}

}  // namespace vsim
