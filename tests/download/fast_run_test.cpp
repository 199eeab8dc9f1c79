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
    tracker.Update({kPhaseDownloading, 0, 5000, 0, size, false, 0});
    tracker.Update({kPhaseDownloading, 5000, 5000, 0, size, false, 0});
    tracker.Update({kPhaseFlashingStarted, 5000, 5000, 0, size, true, 0});
    // Status words that come with the counts move nothing by themselves.
    tracker.Update({kStateProgramming, 5000, 5000, 1, size, true, 0});
    tracker.Update({kStateProgramming, 5000, 5000, 2, size, true, 40000});
    tracker.Update({kStateProgramming, 5000, 5000, 2, size, true, 100000});
    tracker.Update({kStateVerifying, 5000, 5000, 3, size, true, 100000});
    tracker.Update({kStateVerifying, 5000, 5000, 3, size, true, 30000});
    tracker.Update({kStateCompleted, 5000, 5000, 4, size, true, 100000});
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
