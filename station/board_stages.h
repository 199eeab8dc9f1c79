// One board's way through a slot as the station follows it: the stage it is in
// (the station's own steps, then the run's: "Downloading", "Flash Program"...), how
// long each stage took, how far the run's bar has come within its stage, and the
// board's status log, from which a failure's reason is taken and which the window
// shows on a click. The board's run reports to it from its own threads; the
// station and its front ends read it from theirs.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "download/board/failure_reason.h"
#include "download/run/run_view.h"
#include "station/board_record.h"

namespace sealbench {

class BoardStages final : public RunView {
public:
    using Clock = std::chrono::steady_clock;

    // Ends the stage in progress and starts `name`'s clock.
    void Enter(std::string name);
    // Ends the stage in progress.
    void Finish();
    // A line the station adds to the board's log (what a step of its own said).
    void Note(std::string_view line) { AppendLog(line, 0); }

    std::vector<StageTime> Times() const;
    // The stage in progress ("" between stages) and how far its bar has come (0 to 1).
    std::string Stage() const;
    double Fraction() const;
    // Whether the stage has a bar to measure (the memory initialisation has none).
    bool Counted() const;
    std::vector<std::string> Log() const;
    // Why the run failed, as its log says it.
    std::string Reason() const;

    // RunView: the run's reports. A caption is a stage ("Flash Erase:" is "Flash Erase").
    void AppendLog(std::string_view line, int lineCount) override;
    void SetProgressRange(int64_t minimum, int64_t maximum) override;
    void SetProgressPosition(int64_t position) override;
    void SetProgressCaption(std::string_view caption) override;
    void Diagnostic(std::string_view text) override;

private:
    void FinishLocked(Clock::time_point now);

    mutable std::mutex mutex_;
    std::vector<StageTime> times_;  // under mutex_, as each stage ended
    std::string stage_;             // under mutex_
    Clock::time_point entered_;     // under mutex_
    int64_t minimum_ = 0;           // under mutex_: the bar
    int64_t maximum_ = 0;
    int64_t position_ = 0;
    std::vector<std::string> log_;  // under mutex_
    FailureReason reason_;          // under mutex_
};

}  // namespace sealbench
