// One board in one slot, from the moment the station sees it to its verdict: open
// it through the one door, play the reset sequence (serial slots), read its
// identity, flash it with the run core, play the after sequence. Each step is a
// stage of the board's BoardStages; a stop ends whichever step is in progress, and
// a board that did not get through every step is not OK.
#pragma once

#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "download/plan/run_plan.h"
#include "station/board_stages.h"
#include "station/control_sequence.h"
#include "station/identity.h"
#include "station/presence.h"
#include "station/slot_place.h"

namespace sealbench {

// Where a slot's board stands, for the displays; the station adds the steps
// between boards (Empty, Remove, Closed).
enum class SlotStage { Empty, Opening, Reset, Identity, Flashing, After, Remove, Closed };

// What every board of a slot gets; fixed for the station's whole run.
struct SlotJob {
    SlotPlace place;
    PlannedRun planned;  // checked before the station watched any slot
    bool memoryInit = false;
    std::optional<IdentitySpec> identity;
    ControlSequence resetSequence;  // serial slots only
    ControlSequence afterSequence;
};

struct BoardVerdict {
    bool ok = false;
    std::string reason;    // one line; empty when ok
    std::string identity;  // as the verdict line and the record give it
};

// The reason of a board that a stop ended before it was done.
inline constexpr std::string_view kStoppedReason = "stopped before the board was done";

// Told each step as it begins, with the board's identity as far as it is known.
using StageReport = std::function<void(SlotStage, const std::string& identity)>;

// Runs the board that `seen` arrived with.
BoardVerdict RunSlotBoard(const SlotJob& job, const BoardSeen& seen, BoardStages& stages, const StageReport& stage,
                          std::stop_token stop);

}  // namespace sealbench
