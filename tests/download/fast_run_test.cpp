// Which runs take the fast path, and how the progress bar follows a run that
// counts the bytes in flash instead of status words.
#include "download/fast_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "download/progress.h"
#include "recording_view.h"

namespace sealbench {
namespace {

TEST(FastRun, OnlyBuiltinFlashingOverSerialTakesTheFastPath) {
    RunPlan plan;
    plan.operation = OperationType::Flashing;
    plan.flashType = FlashType::Nor;
    EXPECT_FALSE(UsesFastFlashing(plan, false)) << "not asked for";
    plan.fastSerial = true;
    EXPECT_TRUE(UsesFastFlashing(plan, false));
    plan.flashType = FlashType::Nand;
    EXPECT_TRUE(UsesFastFlashing(plan, false));
    EXPECT_FALSE(UsesFastFlashing(plan, true)) << "USB";
    plan.flashType = FlashType::UserInput;
    EXPECT_FALSE(UsesFastFlashing(plan, false)) << "a user's own library";
    plan.flashType = FlashType::Nor;
    plan.secure = true;
    EXPECT_FALSE(UsesFastFlashing(plan, false)) << "HWC and CSF";
    plan.secure = false;
    plan.operation = OperationType::DownloadOnly;
    EXPECT_FALSE(UsesFastFlashing(plan, false)) << "DOWNLOAD only";
}

TEST(FastRun, BarFollowsTheBytesInFlashThroughEachPhase) {
    sealtest::RecordingView view;
    ProgressTracker tracker(view);
    const uint32_t size = 100000;
    const ProgressClock::time_point t0 = ProgressClock::time_point{} + std::chrono::hours(1);
    int step = 0;
    auto look = [&](int phase, unsigned stages, uint64_t sent, bool measured, uint64_t written) {
        RunSnapshot s;
        s.phase = phase;
        s.bytesSent = sent;
        s.bytesToSend = 5000;
        s.imageSize = size;
        s.stagesSeen = stages;
        s.progressInWord = true;  // a built-in library
        s.measured = measured;
        s.bytesWritten = written;
        s.now = t0 + std::chrono::seconds(++step);
        tracker.Update(s);
    };
    const unsigned downloading = kStageDownloading;
    const unsigned flashing = downloading | kStageFlashing;
    const unsigned programming = flashing | kStageProgramming;
    const unsigned verifying = programming | kStageVerifying;
    look(kPhaseDownloading, downloading, 0, false, 0);
    look(kPhaseDownloading, downloading, 5000, false, 0);
    look(kPhaseFlashingStarted, flashing, 5000, true, 0);
    look(kStateProgramming, programming, 5000, true, 0);
    look(kStateProgramming, programming, 5000, true, 40000);
    look(kStateProgramming, programming, 5000, true, 100000);
    look(kStateVerifying, verifying, 5000, true, 0);
    look(kStateVerifying, verifying, 5000, true, 30000);
    look(kStateCompleted, verifying, 5000, true, 100000);
    EXPECT_TRUE(tracker.Finished());
    EXPECT_EQ(view.captions(),
              (std::vector<std::string>{"Downloading:", "Start Flashing:", "Flash Program:", "Flash Verify:"}));
    EXPECT_EQ(view.ranges().back(), (std::pair<int64_t, int64_t>{0, size}));
    const std::vector<int64_t> positions = view.positions();
    for (int64_t p : {40000, 100000, 30000}) {
        EXPECT_NE(std::find(positions.begin(), positions.end(), p), positions.end()) << p;
    }
    // Never past the end, and full at the end.
    EXPECT_LE(*std::max_element(positions.begin(), positions.end()), 100000);
    EXPECT_EQ(positions.back(), 100000);
}

}  // namespace
}  // namespace sealbench
