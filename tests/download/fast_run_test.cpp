// Which runs take the fast path, and how the progress bar follows a run that
// counts the bytes in flash instead of status words.
#include "download/run/fast_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "download/plan/flash_libraries.h"
#include "download/plan/run_plan.h"
#include "download/run/progress.h"
#include "recording_view.h"

namespace sealbench {
namespace {

// The plan of these settings over a serial port (or USB): whether it goes the fast way.
bool Fast(RunSettings s, bool usb = false) {
    const PlannedRun planned = PlanRun(s, RunChannel{true, usb, usb ? "" : "/dev/ttyS0"});
    EXPECT_TRUE(planned.Ok()) << planned.refusal.message;
    return planned.Ok() && planned.plan->fastSerial;
}

TEST(FastRun, OnlyBuiltinFlashingOverSerialTakesTheFastPath) {
    RunSettings s;
    s.processor = ProcessorType::VireoC_TO2;
    s.operation = OperationType::Flashing;
    s.flashType = FlashType::Nor;
    s.memoryInit = {false, false, {}};
    s.imagePath = "/dev/null";  // readable; its size cannot be told and is not needed
    s.flashLibPath = "/dev/null";
    EXPECT_FALSE(Fast(s)) << "not asked for";
    s.fastSerial = true;
    if (!HaveBuiltinFlashLibraries()) GTEST_SKIP() << "built without the flash libraries";
    EXPECT_TRUE(Fast(s));
    s.flashType = FlashType::Nand;
    EXPECT_TRUE(Fast(s));
    EXPECT_FALSE(Fast(s, true)) << "USB";
    s.flashType = FlashType::UserInput;
    s.useDefaultAddress = false;
    s.addressText = "A0000000";
    EXPECT_FALSE(Fast(s)) << "a user's own library";
    s.flashType = FlashType::Nor;
    s.useDefaultAddress = true;
    s.secure = true;
    EXPECT_FALSE(Fast(s)) << "HWC and CSF";
    s.secure = false;
    s.operation = OperationType::DownloadOnly;
    EXPECT_FALSE(Fast(s)) << "DOWNLOAD only";
}

TEST(FastRun, RatesTheBoardCannotMakeAndJobsWithoutABuiltInLibraryAreRefused) {
    for (int rate : bootwire::kStreamRates) EXPECT_EQ(CheckFastBaud(rate), std::nullopt) << rate;
    EXPECT_NE(CheckFastBaud(57600)->find("115200 baud or faster"), std::string::npos);
    EXPECT_NE(CheckFastBaud(1500000)->find("cannot run at 1500000 baud"), std::string::npos);
    RunSettings s;
    s.processor = ProcessorType::VireoC_TO2;
    s.flashType = FlashType::UserInput;
    EXPECT_TRUE(RefuseFastSerial(s, false));
    s.flashType = FlashType::Nor;
    EXPECT_FALSE(RefuseFastSerial(s, false));
    EXPECT_TRUE(RefuseFastSerial(s, true)) << "USB";
    EXPECT_TRUE(RefuseFastSerial(s, false, "socket://localhost:4001")) << "no line speed to change";
    EXPECT_TRUE(RefuseFastSerial(s, false, "SOCKET://localhost:4001")) << "a scheme in capitals is the same";
    EXPECT_FALSE(RefuseFastSerial(s, false, "rfc2217://localhost:4001"));
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
