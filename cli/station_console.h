// The station's terminal: each board's verdict line on standard output as it ends,
// and on standard error a live status line (each slot's stage, the counts, units per
// hour) redrawn in place on a terminal, or printed again whenever a slot changes
// stage with --progress plain. Lines on stdout never land inside the status line.
#pragma once

#include <mutex>
#include <string>

#include "cli_view.h"
#include "station/station.h"

namespace sealbench::cli {

class StationConsole final : public StationView {
public:
    explicit StationConsole(ProgressMode mode) : mode_(mode) {}

    void BoardEnded(const BoardRecord& record, const std::string& verdictLine) override;
    // Shows the station as it stands now (called on the main thread a few times a second).
    void Show(const StationSnapshot& snapshot);
    // A line of the command's own on stderr, clear of the status line.
    void Note(const std::string& text);
    // Takes the status line off the screen for good.
    void Finish();

private:
    void ClearLocked();

    ProgressMode mode_;
    std::mutex mutex_;
    bool drawn_ = false;     // under mutex_: the status line is on the screen
    bool finished_ = false;  // under mutex_
    std::string lastPlain_;  // under mutex_: the stages of the last plain line
};

// One line for the status: "1 Flash Program 45% | 2 waiting | 3 take out | boards: 5,
// passed: 4, failed: 1, units per hour: 412.0", at most `columns` - 1 long. With
// `withPercent` false, the same without the bars' per cents (what a plain line
// changes on).
std::string StationStatusLine(const StationSnapshot& snapshot, bool withPercent, size_t columns);

}  // namespace sealbench::cli
