#include "download/run/progress.h"

#include <algorithm>
#include <iterator>

#include "download/run/run_sequence.h"

namespace sealbench {
namespace {

// One step per status word while a user's flash library runs.
constexpr int64_t kFlashingStep = 10000;
// Figures between the beginning and the end of a stage: often enough for the eye.
constexpr auto kFiguresInterval = std::chrono::milliseconds(250);

// The control's step: past the end of the range it starts again from the beginning.
int64_t StepWithin(int64_t position, int64_t step, int64_t maximum) {
    if (maximum <= 0) {
        return 0;
    }
    position += step;
    return position > maximum ? position % maximum : position;
}

}  // namespace

uint64_t StatusWordProgress(uint32_t word, uint64_t imageSize) {
    return std::min<uint64_t>(static_cast<uint64_t>(word & 0xFFFF) * kStatusProgressUnit, imageSize);
}

void ProgressTracker::Enter(Stage stage, const RunSnapshot& state, ProgressClock::time_point now) {
    stage_ = stage;
    uint64_t flashBytes = state.progressInWord || state.measured ? state.imageSize : 0;
    switch (stage) {
        case Stage::Downloading:
            maximum_ = static_cast<int64_t>(state.bytesToSend);
            view_.SetProgressCaption("Downloading:");
            view_.SetProgressPosition(0);
            view_.SetProgressRange(0, maximum_);
            position_ = 0;
            meter_.Start("Downloading:", state.bytesToSend, now);
            break;
        case Stage::Flashing:
            maximum_ = state.imageSize;
            view_.SetProgressCaption("Start Flashing:");
            view_.SetProgressPosition(0);
            view_.SetProgressRange(0, maximum_);
            position_ = 0;
            words_ = state.statusWords;
            meter_.Start("Start Flashing:", 0, now);
            break;
        case Stage::Erasing:
            view_.SetProgressCaption("Flash Erase:");
            meter_.Start("Flash Erase:", flashBytes, now);
            break;
        case Stage::Programming:
        case Stage::Verifying: {
            const char* caption = stage == Stage::Programming ? "Flash Program:" : "Flash Verify:";
            position_ = 0;
            view_.SetProgressPosition(0);
            view_.SetProgressCaption(caption);
            meter_.Start(caption, flashBytes, now);
            break;
        }
        case Stage::None:
            break;
    }
    ShowFigures(now, true);
}

void ProgressTracker::FinishStage(ProgressClock::time_point now) {
    if (stage_ == Stage::None) {
        return;
    }
    meter_.Finish(now);
    position_ = maximum_;
    view_.SetProgressPosition(maximum_);
    ShowFigures(now, true);
}

void ProgressTracker::Follow(const RunSnapshot& state, ProgressClock::time_point now) {
    if (stage_ == Stage::Downloading) {
        int64_t sent = std::min<int64_t>(static_cast<int64_t>(state.bytesSent), maximum_);
        if (sent != position_) {
            position_ = sent;
            view_.SetProgressPosition(position_);
        }
        meter_.Update(state.bytesSent, now);
    } else if (state.measured && stage_ != Stage::Flashing) {
        // The run counts the bytes in flash itself (fast serial flashing).
        meter_.Update(state.bytesWritten, now);
        int64_t written = std::min<int64_t>(static_cast<int64_t>(state.bytesWritten), maximum_);
        if (written > position_) {
            position_ = written;
            view_.SetProgressPosition(position_);
        }
    } else if (state.progressInWord && stage_ != Stage::Flashing) {
        // The word speaks for the stage its code names; a word of the next stage
        // waits until that stage has been entered.
        static constexpr int kCodes[] = {kStateErasing, kStateProgramming, kStateVerifying};
        int code = static_cast<int16_t>(state.lastWord >> 16);
        int stageCode = kCodes[static_cast<int>(stage_) - static_cast<int>(Stage::Erasing)];
        if (code == stageCode) {
            uint64_t done = StatusWordProgress(state.lastWord, state.imageSize);
            meter_.Update(done, now);
            int64_t shown = std::min<int64_t>(static_cast<int64_t>(done), maximum_);
            if (shown > position_) {
                position_ = shown;
                view_.SetProgressPosition(position_);
            }
        }
    } else if (state.statusWords != words_) {
        words_ = state.statusWords;
        position_ = StepWithin(position_, kFlashingStep, maximum_);
        view_.SetProgressPosition(position_);
    }
    ShowFigures(now, false);
}

void ProgressTracker::ShowFigures(ProgressClock::time_point now, bool always) {
    if (stage_ == Stage::None) {
        return;
    }
    ProgressFigures figures = meter_.Figures(runStart_, now);
    // Every new per cent is shown, so that a display counting tenths misses none.
    if (!always && now - lastFigures_ < kFiguresInterval && figures.Percent() == lastPercent_) {
        return;
    }
    lastFigures_ = now;
    lastPercent_ = figures.Percent();
    view_.SetProgressFigures(figures);
}

void ProgressTracker::Update(const RunSnapshot& state) {
    if (finished_) {
        return;
    }
    ProgressClock::time_point now = state.now == ProgressClock::time_point{} ? ProgressClock::now() : state.now;
    if (!started_) {
        started_ = true;
        runStart_ = now;
    }
    static constexpr std::pair<Stage, unsigned> kOrder[] = {
        {Stage::Downloading, kStageDownloading}, {Stage::Flashing, kStageFlashing},   {Stage::Erasing, kStageErasing},
        {Stage::Programming, kStageProgramming}, {Stage::Verifying, kStageVerifying},
    };
    unsigned stages = state.stagesSeen;
    if ((state.progressInWord || state.measured) && (stages & kStageFlashing) != 0) {
        // A built-in library erases, programs and verifies, in that order, before it
        // reports completion: a stage that ran between two polls still happened, so
        // a later stage (or the run's good end) means the earlier ones ran. Streaming
        // (fast serial flashing) erases each sector as the image reaches it, within
        // its programming, and has no erase stage of its own.
        if (state.phase == kStateCompleted || (state.phase == kPhaseFinished && state.succeeded)) {
            stages |= kStageVerifying;
        }
        if ((stages & kStageVerifying) != 0) {
            stages |= kStageProgramming;
        }
        if ((stages & kStageProgramming) != 0 && !state.measured) {
            stages |= kStageErasing;
        }
    }
    for (auto [stage, bit] : kOrder) {
        if ((stages & bit) != 0 && stage > stage_) {
            // A later stage began: the one shown is over.
            if (stage_ != Stage::None) {
                Follow(state, now);
                FinishStage(now);
            }
            Enter(stage, state, now);
        }
    }
    if (stage_ != Stage::None) {
        Follow(state, now);
    }
    int phase = state.phase;
    if (phase == kPhaseFinished || phase == kStateCompleted) {
        // A failed stage keeps what it reached: a full bar would read as success.
        if (phase == kStateCompleted || state.succeeded) {
            FinishStage(now);
        } else {
            ShowFigures(now, true);
        }
        finished_ = true;
    }
}

}  // namespace sealbench
