// The runs that go through the built-in flash library's ranges, in one session
// of it (bootwire's Link::OpenRanges): fast serial flashing of an image or of a
// layout's images, sending only the blocks whose content differs from the flash;
// Verify, which compares the flash with the image and writes nothing; Erase.
// What the session reports becomes the observer's reports of a run, as a fast
// run's stream does.
#pragma once

#include <bootwire/bootwire.h>

#include <string>
#include <vector>

#include "common/outcome.h"
#include "download/plan/run_plan.h"
#include "download/run/run_sequence.h"

namespace sealbench {

// The whole run of a plan with fastSerial (FLASHING), Verify or Erase.
//  - FLASHING: success "Flashing Completed\n"; one image's verified line is the
//    detail, a layout's images each have their own status line as they end.
//  - Verify: success when the flash equals the image; else a failure whose detail
//    lists each differing range as "differs: 0xSTART-0xEND" (last byte included).
//  - Erase: success with the line that says which sectors or blocks were erased.
Outcome RangedRun(bootwire::Link& link, const RunPlan& plan, RunObserver& observer);

// "differs: 0xA0010000-0xA0010FFF"
std::string DiffersLine(const bootwire::RangeReport::Span& span);

}  // namespace sealbench
