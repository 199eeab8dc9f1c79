// The harmless question that tells whether a board sits behind a serial port: the
// boot ROM's get-status, which changes nothing on the board, answered by exactly
// one word within a short bound. A console that prints or echoes text is not a
// board, so the line must be quiet before the question and after the word, and the
// word must be neither the question's own bytes coming back nor a piece of text.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>

#include "station/control_sequence.h"

namespace sealbench {

struct ProbeOptions {
    int lineMode = 1;  // the boot ROM's line (bootwire::LineMode)
    std::chrono::milliseconds answerLimit{300};
    std::chrono::milliseconds quiet{40};  // the silence asked of the line around the word
    ControlSequence beforeProbe;          // played once the port is open (a jig's way into boot mode)
};

enum class ProbeVerdict {
    Board,    // the boot ROM answered
    Console,  // something talks, but not the boot ROM
    Silent,   // nothing answered in time
    Busy,     // another program holds the port: nothing can be told
    Missing,  // no such port (any more)
    Failed,   // the port could not be used (settings, a step of the sequence...)
};

struct ProbeResult {
    ProbeVerdict verdict = ProbeVerdict::Failed;
    std::string detail;  // in words, for a display
};

ProbeResult ProbeSerial(const std::string& port, const ProbeOptions& options, std::stop_token stop);

// True when the 4 bytes after the question cannot be the boot ROM's word: the
// question echoed back, or printable text with a line end in it.
bool WordIsConsoleTalk(std::span<const uint8_t, 4> word);

}  // namespace sealbench
