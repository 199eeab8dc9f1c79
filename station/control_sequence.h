// The DTR/RTS sequences a station plays on a serial port: one that puts a jig's
// board into boot mode after the port opens (--reset-sequence), one that resets it
// into its flashed firmware when it is done (--after-sequence). As text:
// "D0|R1|W100|D1|R0|W50|D0", where D and R set DTR and RTS to 0 or 1 and W waits
// that many milliseconds. Parsed once, with bounds, before any board is touched.
#pragma once

#include <bootwire/bootwire.h>

#include <chrono>
#include <cstddef>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"

namespace sealbench {

struct ControlStep {
    enum class Kind { Dtr, Rts, Wait };
    Kind kind = Kind::Wait;
    bool on = false;                    // Dtr, Rts
    std::chrono::milliseconds wait{0};  // Wait
    std::string text;                   // the step as written, for messages
};

using ControlSequence = std::vector<ControlStep>;

inline constexpr size_t kMaxControlSteps = 64;
inline constexpr std::chrono::milliseconds kMaxControlWait{10'000};   // one W step
inline constexpr std::chrono::milliseconds kMaxSequenceWait{30'000};  // every W of a sequence together

// A sequence from its text; a failure (FailureKind::Input) names the step at fault.
Result<ControlSequence> ParseControlSequence(std::string_view text);

// Plays the steps in order on `link`. Waits end at once when `stop` is requested
// (FailureKind::Stopped); a line the link cannot set fails (FailureKind::Target)
// with the step and the link's reason.
Outcome PlayControlSequence(bootwire::Link& link, const ControlSequence& steps, std::stop_token stop);

}  // namespace sealbench
