// A FLASHING run of the plan in fast serial mode: the image is read from its file
// and goes through the built-in library's session of ranges (range_run.h), which
// sends only the blocks that differ from the flash; the pieces it shares with
// Link::StreamFlash (the job of a built-in library, the texts of a stream's end).
#pragma once

#include <bootwire/bootwire.h>

#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"
#include "download/plan/run_plan.h"
#include "download/run/run_sequence.h"

namespace sealbench {

// The whole fast run. On success the outcome's message is "Flashing Completed\n"
// and its detail the line that says the image was verified; a failure's message is
// the run's reason, its diagnostic what the port and the library said.
Outcome FastFlashing(bootwire::Link& link, const RunPlan& plan, RunObserver& observer);

// A stream of `image` through the built-in library of the processor and flash type,
// to `flashAddress` (NOR: bus address; NAND: offset, `partitionSize` 0 to the end of
// the device). The job's spans point into this object: keep it while the stream runs.
struct BuiltinStream {
    std::vector<uint8_t> area;  // target RAM from the RAM base: the library and its parameter block
    bootwire::StreamJob job;
};
// nullopt when this build has no built-in library for them.
std::optional<BuiltinStream> MakeBuiltinStream(ProcessorType processor, FlashType flashType, uint32_t flashAddress,
                                               uint32_t partitionSize, std::span<const uint8_t> image, int baud);

// What a stream's result means for the run: "Flashing Completed\n" with the line that
// says the image was verified, or the run's reason in the words of a normal run where
// the stages are the same, with advice to choose a lower rate (named `rateChoice`)
// where that may help.
Outcome StreamOutcome(const bootwire::Link& link, bootwire::Error error, const bootwire::StreamReport& report, int baud,
                      std::string_view rateChoice, size_t imageSize);

// The rates below `baud` that the stream offers, as advice ("460800 or 230400").
std::string LowerRates(int baud);

}  // namespace sealbench
