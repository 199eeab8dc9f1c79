// What the progress bar, its caption and its figures show for the state of a run.
// The progress task feeds it snapshots of the run's state whenever something
// changed (and a few times a second, so that the times move); the tracker decides
// what the bar shows and tells the RunView. No threads here.
//
// A snapshot may come after a short phase has already ended: the tracker walks
// through every stage the run entered, in order, so that each caption is shown, a
// stage that ended is shown full, and no figure ever goes back within a stage.
#pragma once

#include <cstdint>

#include "download/run/progress_figures.h"
#include "download/run/run_view.h"

namespace sealbench {

// Stages a run has entered, as bits: a snapshot carries all of them, not only the
// latest phase.
enum RunStage : unsigned {
    kStageDownloading = 1u << 0,
    kStageFlashing = 1u << 1,
    kStageErasing = 1u << 2,
    kStageProgramming = 1u << 3,
    kStageVerifying = 1u << 4,
};

// The run's state as the progress task last read it.
struct RunSnapshot {
    int phase = 0;  // a RunPhase, or a state code while flashing
    uint64_t bytesSent = 0;
    uint64_t bytesToSend = 0;
    uint64_t statusWords = 0;  // status words received so far
    uint32_t imageSize = 0;
    unsigned stagesSeen = 0;  // RunStage bits
    uint32_t lastWord = 0;    // the latest status word
    // The flash library is a built-in one: its words carry the stage's progress
    // (StatusWordProgress). A user's library moves the bar one step a word.
    bool progressInWord = false;
    bool succeeded = false;           // meaningful once the phase is finished
    ProgressClock::time_point now{};  // when the state was read; the epoch: now
    bool measured = false;            // the run counts the bytes in flash: the bar follows them
    uint64_t bytesWritten = 0;        // while measured
    uint64_t bytesProgrammed = 0;     // while measured: the most the programming stage reached
    uint32_t blocks = 0;              // runs that compare blocks: the images' blocks
    uint32_t blocksSkipped = 0;       // and those the flash held already
};

// The image bytes a built-in flash library reports done in its stage: the low half
// of the status word counts KiB (kStatusProgressUnit bytes), capped at the image.
inline constexpr uint32_t kStatusProgressUnit = 1024;
uint64_t StatusWordProgress(uint32_t word, uint64_t imageSize);

class ProgressTracker {
public:
    explicit ProgressTracker(RunView& view) : view_(view) {}

    void Update(const RunSnapshot& state);
    // The run is over once the tracker has seen its last phase.
    bool Finished() const { return finished_; }

private:
    enum class Stage { None, Downloading, Flashing, Erasing, Programming, Verifying };

    void Enter(Stage stage, const RunSnapshot& state, ProgressClock::time_point now);
    void FinishStage(ProgressClock::time_point now);
    void Follow(const RunSnapshot& state, ProgressClock::time_point now);
    void ShowFigures(ProgressClock::time_point now, bool always);

    RunView& view_;
    Stage stage_ = Stage::None;
    RateMeter meter_;
    ProgressClock::time_point runStart_{};
    ProgressClock::time_point lastFigures_{};
    int lastPercent_ = -1;
    bool started_ = false;
    int64_t maximum_ = 0;
    int64_t position_ = 0;
    uint64_t words_ = 0;
    bool finished_ = false;
};

}  // namespace sealbench
