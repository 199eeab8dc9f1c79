// A FLASHING run of the page's plan in fast serial mode: the image is read from
// its file and streamed through RunFastFlash, and what that reports is turned into
// the observer's reports of a normal run (download bytes, state codes, bytes
// written), so that the status log and the progress bar follow it the same way.
#pragma once

#include <bootwire/bootwire.h>

#include <stop_token>

#include "common/outcome.h"
#include "run_plan.h"
#include "run_sequence.h"

namespace sealbench {

// Whether the plan's run goes the fast way: FLASHING with a built-in library over
// a serial port, asked for by the plan. Everything else runs the normal way.
bool UsesFastFlashing(const RunPlan& plan, bool usb);

// The whole fast run. On success the outcome's message is "Flashing Completed\n"
// and its detail the line that says the image was verified.
Outcome FastFlashing(bootwire::Link& link, const RunPlan& plan, RunObserver& observer, std::stop_token stop);

}  // namespace sealbench
