// The controls a run writes to: the status log and the progress bar with its
// caption. The Qt page and sealbench-cli each implement this; the run's tasks call
// it from their own threads, so an implementation must be safe to call from any
// thread (the Qt page queues the calls to its GUI thread).
#pragma once

#include <cstdint>
#include <string_view>

#include "download/run/progress_figures.h"

namespace sealbench {

class RunView {
public:
    virtual ~RunView() = default;

    // One status-log line, as the page shows it (texts may end in "\n").
    // `lineCount` is the process-wide number of lines appended so far, this one
    // included: the page scrolls by it to keep the newest line in view.
    virtual void AppendLog(std::string_view line, int lineCount) = 0;

    // The progress bar. Positions lie within the last range set.
    virtual void SetProgressRange(int64_t minimum, int64_t maximum) = 0;
    virtual void SetProgressPosition(int64_t position) = 0;
    // The label left of the bar ("Downloading:", "Flash Erase:", ...).
    virtual void SetProgressCaption(std::string_view caption) = 0;

    // What the bar's figures say: bytes done of the total, rate, time left, time
    // spent. Given when a phase begins and ends and a few times a second between.
    virtual void SetProgressFigures(const ProgressFigures&) {}
    // "Execute" was pressed: nothing of an earlier run's bar and caption may stay.
    virtual void ResetProgress() {}

    // What the library said about a failure, for a tooltip or stderr; never a log line.
    virtual void Diagnostic(std::string_view) {}

    // What the run did, once, after its last log line and before RunEnded.
    virtual void Summary(const RunSummary&) {}

    // Both tasks of a run are ending; `success` is the outcome of the run. Called
    // from a task's thread just before the run stops counting as in progress: a
    // new "Execute" is accepted once this call has returned (queue it, don't run it here).
    virtual void RunEnded(bool) {}
};

}  // namespace sealbench
