// The figures a progress display shows beside its bar (bytes done of the total, the
// rate, the time left, the time spent) and the line that sums up a run, with the
// texts every display writes them in. The run's ProgressTracker fills them; the
// terminal, the window and any further view of a run only render them.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace sealbench {

using ProgressClock = std::chrono::steady_clock;

// One phase of a run ("Downloading:", "Flash Program:", ...) as it stands.
struct ProgressFigures {
    std::string caption;
    uint64_t done = 0;                         // bytes of the phase done so far
    uint64_t total = 0;                        // bytes the phase moves; 0 when the phase is not counted in bytes
    double rate = 0;                           // bytes per second over the phase so far; 0 while unknown
    std::optional<std::chrono::seconds> left;  // time left in the phase, when the rate tells it
    std::chrono::milliseconds phaseElapsed{0};
    std::chrono::milliseconds runElapsed{0};
    bool finished = false;  // the phase is over and everything in it was done

    bool Counted() const { return total > 0; }
    // Whole per cent of the phase done; 100 once finished, 0 for a phase not counted.
    int Percent() const;
};

// Follows one phase's bytes over time and works out the figures.
class RateMeter {
public:
    void Start(std::string caption, uint64_t total, ProgressClock::time_point now);
    // Bytes done never go back: a smaller count than before is ignored.
    void Update(uint64_t done, ProgressClock::time_point now);
    // The phase is over: everything in it counts as done.
    void Finish(ProgressClock::time_point now);
    ProgressFigures Figures(ProgressClock::time_point runStart, ProgressClock::time_point now) const;
    bool Started() const { return started_; }

private:
    std::string caption_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    bool started_ = false;
    bool finished_ = false;
    ProgressClock::time_point start_{};
    ProgressClock::time_point end_{};
};

// "512 B", "4.9 KiB", "2.00 MiB"
std::string FormatBytes(uint64_t bytes);
// "0:07", "12:05", "1:02:03"
std::string FormatDuration(std::chrono::milliseconds duration);
// "45.1 KiB/s"
std::string FormatRate(double bytesPerSecond);

// What follows the bar or the per cent: "1.20 MiB / 2.00 MiB  45.1 KiB/s  0:18 left"
// while a counted phase goes on, "2.00 MiB in 0:44" once it is done, the time spent
// for a phase not counted in bytes. As wide as `width` allows (0: no limit),
// dropping the least useful figure first.
std::string FiguresText(const ProgressFigures& figures, size_t width = 0);

// What a run did, for the line that ends it.
struct RunSummary {
    bool success = false;
    bool flashing = false;         // FLASHING, else DOWNLOAD only
    std::string target;            // "RAM", "NOR flash", "NAND flash", "flash"
    uint32_t address = 0;          // RAM application address, flash address or NAND offset
    bool addressIsOffset = false;  // NAND: the address is an offset into the device
    uint64_t imageBytes = 0;       // the image's size
    uint64_t bytesSent = 0;        // payload bytes that left the host
    uint64_t bytesToSend = 0;      // payload bytes the download was to send
    std::chrono::milliseconds elapsed{0};
    std::string verified;          // what confirmed the result; empty after a failure
    bool flashTouched = false;     // the flash library ran: a failure may leave part of the image
    bool streamed = false;         // fast serial flashing: bytesSent counts the library's load only
    uint64_t bytesProgrammed = 0;  // when streamed: the image bytes the library programmed
    // What the run did, when it is not a download or flashing ("Compared", "Erased")
    // and the word before the target ("with", "of").
    std::string verb;
    std::string preposition;
    uint32_t blocks = 0;         // runs that compare blocks first: the images' blocks
    uint32_t blocksSkipped = 0;  // and those already in flash, not sent
};

// "Flashed 2.00 MiB (2097152 bytes) to NOR flash at 0xa0000000 in 1:23 (25.1 KiB/s);
// verified: ..." or, after a failure, how far it got.
std::string SummaryText(const RunSummary& summary);

}  // namespace sealbench
