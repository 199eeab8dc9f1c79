// What the progress bar and its caption show for the state of a run. The progress
// task feeds it snapshots of the run's state whenever something changed; the
// tracker decides what the bar shows and tells the RunView. No threads here.
#pragma once

#include <cstdint>

#include "run_view.h"

namespace sealbench {

// The run's state as the progress task last read it.
struct RunSnapshot {
    int phase = 0;  // a RunPhase, or a state code while flashing
    uint64_t bytesSent = 0;
    uint64_t bytesToSend = 0;
    uint64_t statusWords = 0;  // status words received so far
    uint32_t imageSize = 0;
};

class ProgressTracker {
public:
    explicit ProgressTracker(RunView& view) : view_(view) {}

    void Update(const RunSnapshot& state);
    // The run is over once the tracker has seen its last phase.
    bool Finished() const { return finished_; }

private:
    void EnterDownloading(const RunSnapshot& state);
    void EnterFlashing(const RunSnapshot& state);
    void FollowFlashing(const RunSnapshot& state);

    RunView& view_;
    int shownPhase_ = 0;
    int64_t maximum_ = 0;
    int64_t position_ = 0;
    uint64_t words_ = 0;
    bool erase_ = false;
    bool program_ = false;
    bool verify_ = false;
    bool finished_ = false;
};

}  // namespace sealbench
