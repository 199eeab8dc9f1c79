#include "progress.h"

#include <algorithm>

#include "run_sequence.h"

namespace sealbench {
namespace {

// One step per status word while flashing.
constexpr int64_t kFlashingStep = 10000;

bool IsFlashingPhase(int phase) { return phase == kPhaseFlashingStarted || IsStateCode(phase); }

// The control's step: past the end of the range it starts again from the beginning.
int64_t StepWithin(int64_t position, int64_t step, int64_t maximum) {
    if (maximum <= 0) {
        return 0;
    }
    position += step;
    return position > maximum ? position % maximum : position;
}

}  // namespace

void ProgressTracker::EnterDownloading(const RunSnapshot& state) {
    maximum_ = static_cast<int64_t>(state.bytesToSend);
    view_.SetProgressCaption("Downloading:");
    view_.SetProgressPosition(0);
    view_.SetProgressRange(0, maximum_);
    position_ = 0;
}

void ProgressTracker::EnterFlashing(const RunSnapshot& state) {
    maximum_ = state.imageSize;
    view_.SetProgressCaption("Start Flashing:");
    view_.SetProgressPosition(0);
    view_.SetProgressRange(0, maximum_);
    position_ = 0;
    words_ = state.statusWords;
}

void ProgressTracker::FollowFlashing(const RunSnapshot& state) {
    int phase = state.phase;
    if (phase == kStateErasing && !erase_) {
        erase_ = true;
        view_.SetProgressCaption("Flash Erase:");
    } else if (phase == kStateProgramming && !program_) {
        program_ = true;
        position_ = 0;
        view_.SetProgressPosition(0);
        view_.SetProgressCaption("Flash Program:");
    } else if (phase == kStateVerifying && !verify_) {
        verify_ = true;
        position_ = 0;
        view_.SetProgressPosition(0);
        view_.SetProgressCaption("Flash Verify:");
    }
    if (state.statusWords != words_) {
        words_ = state.statusWords;
        position_ = StepWithin(position_, kFlashingStep, maximum_);
        view_.SetProgressPosition(position_);
    }
    if (EndsRun(phase)) {
        view_.SetProgressPosition(maximum_);
    }
}

void ProgressTracker::Update(const RunSnapshot& state) {
    int phase = state.phase;
    bool flashing = IsFlashingPhase(phase);
    // A phase that ended between two looks still ends with a full bar.
    if (shownPhase_ == kPhaseDownloading && phase != kPhaseDownloading) {
        view_.SetProgressPosition(maximum_);
    }
    if (IsFlashingPhase(shownPhase_) && !flashing) {
        view_.SetProgressPosition(maximum_);
    }
    if (phase == kPhaseDownloading) {
        if (shownPhase_ != kPhaseDownloading) {
            EnterDownloading(state);
        }
        int64_t sent = std::min<int64_t>(static_cast<int64_t>(state.bytesSent), maximum_);
        if (sent != position_) {
            position_ = sent;
            view_.SetProgressPosition(position_);
        }
    } else if (flashing) {
        if (!IsFlashingPhase(shownPhase_)) {
            EnterFlashing(state);
        }
        FollowFlashing(state);
    }
    if (phase != kPhaseIdle) {
        shownPhase_ = phase;
    }
    finished_ = phase == kPhaseFinished || phase == kStateCompleted;
}

}  // namespace sealbench
