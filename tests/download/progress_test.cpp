// What the bar and its figures show for snapshots of a run: stages a slow look
// missed, runs that fail, the built-in libraries' progress in the status word, a
// user's library, and the texts of the figures and the summary.
#include "download/run/progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "download/run/run_sequence.h"
#include "recording_view.h"

namespace {

using namespace sealbench;
using namespace std::chrono_literals;

const ProgressClock::time_point kT0 = ProgressClock::time_point{} + 1h;

RunSnapshot At(int phase, unsigned stages, std::chrono::milliseconds after) {
    RunSnapshot s;
    s.phase = phase;
    s.stagesSeen = stages;
    s.now = kT0 + after;
    return s;
}

// The last figures of each caption, in the order the captions first came.
std::vector<ProgressFigures> LastPerCaption(const std::vector<ProgressFigures>& all) {
    std::vector<ProgressFigures> last;
    for (const ProgressFigures& f : all) {
        auto same = std::find_if(last.begin(), last.end(), [&](const auto& l) { return l.caption == f.caption; });
        if (same == last.end()) {
            last.push_back(f);
        } else {
            *same = f;
        }
    }
    return last;
}

// A built-in library's first status word, 16 KiB of a 64 KiB image programmed.
RunSnapshot BuiltInProgramming() {
    RunSnapshot s = At(kStateProgramming, kStageDownloading | kStageFlashing | kStageProgramming, 0ms);
    s.imageSize = 0x10000;
    s.progressInWord = true;
    s.lastWord = 0x00A20010;
    s.statusWords = 1;
    return s;
}

// The worker's end as the next look sees it, a second later.
void EndRun(ProgressTracker& tracker, RunSnapshot s, bool succeeded) {
    s.phase = kPhaseFinished;
    s.succeeded = succeeded;
    s.now += 1s;
    tracker.Update(s);
    EXPECT_TRUE(tracker.Finished());
}

// No figure of a stage ever goes back.
void ExpectNeverBack(const std::vector<ProgressFigures>& all) {
    std::map<std::string, uint64_t> done;
    std::map<std::string, bool> finished;
    for (const ProgressFigures& f : all) {
        EXPECT_GE(f.done, done[f.caption]) << f.caption;
        EXPECT_FALSE(finished[f.caption] && !f.finished) << f.caption;
        done[f.caption] = f.done;
        finished[f.caption] = f.finished;
    }
}

TEST(ProgressTracker, ADownloadThatEndedBeforeTheFirstLookStillEndsFull) {
    sealtest::RecordingView view;
    ProgressTracker tracker(view);
    RunSnapshot s = At(kPhaseFinished, kStageDownloading, 0ms);
    s.bytesToSend = 6024;
    s.bytesSent = 6024;
    s.imageSize = 5000;
    s.succeeded = true;
    tracker.Update(s);
    EXPECT_TRUE(tracker.Finished());
    EXPECT_EQ(view.captions(), std::vector<std::string>{"Downloading:"});
    EXPECT_EQ(view.positions().back(), 6024);
    ASSERT_FALSE(view.figures().empty());
    ProgressFigures last = view.figures().back();
    EXPECT_TRUE(last.finished);
    EXPECT_EQ(last.Percent(), 100);
    EXPECT_EQ(last.done, 6024u);
}

TEST(ProgressTracker, EveryFlashingStageIsShownInOrderAndEndsFull) {
    sealtest::RecordingView view;
    ProgressTracker tracker(view);
    RunSnapshot s = At(kPhaseDownloading, kStageDownloading, 0ms);
    s.bytesToSend = 0x20000;
    s.bytesSent = 0x8000;
    s.imageSize = 0x10000;
    s.progressInWord = true;
    tracker.Update(s);
    // One look later the library has already gone through erase and program.
    s = At(kStateVerifying, 0x1F, 2000ms);
    s.bytesToSend = s.bytesSent = 0x20000;
    s.imageSize = 0x10000;
    s.progressInWord = true;
    s.lastWord = 0x00A30020;  // 32 KiB verified
    s.statusWords = 40;
    tracker.Update(s);
    s.phase = kStateCompleted;
    s.lastWord = 0x00B40000;
    s.now += 1s;
    tracker.Update(s);
    EXPECT_TRUE(tracker.Finished());

    EXPECT_EQ(view.captions(), (std::vector<std::string>{"Downloading:", "Start Flashing:", "Flash Erase:",
                                                         "Flash Program:", "Flash Verify:"}));
    std::vector<ProgressFigures> all = view.figures();
    ExpectNeverBack(all);
    std::vector<ProgressFigures> last = LastPerCaption(all);
    ASSERT_EQ(last.size(), 5u);
    for (const ProgressFigures& f : last) {
        EXPECT_TRUE(f.finished) << f.caption;
        EXPECT_EQ(f.Percent(), 100) << f.caption;
    }
    EXPECT_EQ(last[0].total, 0x20000u);  // the download counts every byte sent
    EXPECT_EQ(last[4].total, 0x10000u);  // the flash stages count the image
    // The verify stage went through the word's 32 KiB before it ended.
    bool sawHalf = std::any_of(all.begin(), all.end(),
                               [](const auto& f) { return f.caption == "Flash Verify:" && f.done == 0x8000; });
    EXPECT_TRUE(sawHalf);
    EXPECT_EQ(view.positions().back(), 0x10000);
}

// The first word a poll caught was already programming, and the last look came
// after the worker had ended: a built-in library still erased and verified.
TEST(ProgressTracker, BuiltInStagesBetweenTwoLooksAreShownToo) {
    sealtest::RecordingView view;
    ProgressTracker tracker(view);
    RunSnapshot s = BuiltInProgramming();
    tracker.Update(s);
    EndRun(tracker, s, true);
    EXPECT_EQ(view.captions(), (std::vector<std::string>{"Downloading:", "Start Flashing:", "Flash Erase:",
                                                         "Flash Program:", "Flash Verify:"}));
    for (const ProgressFigures& f : LastPerCaption(view.figures())) {
        EXPECT_TRUE(f.finished) << f.caption;
    }
}

TEST(ProgressTracker, AFailedRunKeepsWhatItReached) {
    sealtest::RecordingView view;
    ProgressTracker tracker(view);
    RunSnapshot s = At(kPhaseDownloading, kStageDownloading, 0ms);
    s.bytesToSend = 1000;
    s.bytesSent = 400;
    tracker.Update(s);
    EndRun(tracker, s, false);
    EXPECT_EQ(view.positions().back(), 400);
    EXPECT_FALSE(view.figures().back().finished);
    EXPECT_EQ(view.figures().back().Percent(), 40);
}

TEST(ProgressTracker, BuiltInLibraryWordsMoveTheBarByBytesAndNeverBack) {
    sealtest::RecordingView view;
    ProgressTracker tracker(view);
    RunSnapshot s = BuiltInProgramming();  // 16 KiB programmed
    tracker.Update(s);
    EXPECT_EQ(view.positions().back(), 0x4000);
    EXPECT_EQ(view.figures().back().done, 0x4000u);
    s.lastWord = 0x00A20008;  // a smaller count: ignored
    s.statusWords = 2;
    s.now += 1s;
    tracker.Update(s);
    EXPECT_EQ(view.positions().back(), 0x4000);
    s.lastWord = 0x00A200FF;  // beyond the image: capped
    s.statusWords = 3;
    s.now += 1s;
    tracker.Update(s);
    EXPECT_EQ(view.positions().back(), 0x10000);
    ExpectNeverBack(view.figures());
}

TEST(ProgressTracker, AUserLibraryKeepsCountedStepsAndNoByteFigures) {
    sealtest::RecordingView view;
    ProgressTracker tracker(view);
    RunSnapshot s = At(kStateProgramming, kStageDownloading | kStageFlashing | kStageProgramming, 0ms);
    s.imageSize = 25000;
    s.lastWord = 0x00A20123;  // the low half means nothing for a user's library
    s.statusWords = 1;
    tracker.Update(s);
    for (uint64_t words = 2; words <= 4; ++words) {
        s.statusWords = words;
        s.now += 100ms;
        tracker.Update(s);
    }
    // One step of 10000 a look with news, starting again past the end of the range.
    std::vector<int64_t> positions = view.positions();
    ASSERT_GE(positions.size(), 3u);
    EXPECT_EQ(positions[positions.size() - 3], 10000);
    EXPECT_EQ(positions[positions.size() - 2], 20000);
    EXPECT_EQ(positions.back(), 30000 % 25000);
    for (const ProgressFigures& f : view.figures()) {
        if (f.caption == "Flash Program:") {
            EXPECT_FALSE(f.Counted());
        }
    }
}

TEST(ProgressFigures, RateAndTimeLeftFollowTheBytes) {
    RateMeter meter;
    meter.Start("Downloading:", 4000, kT0);
    meter.Update(1000, kT0 + 2s);
    ProgressFigures f = meter.Figures(kT0, kT0 + 2s);
    EXPECT_DOUBLE_EQ(f.rate, 500.0);
    ASSERT_TRUE(f.left.has_value());
    EXPECT_EQ(*f.left, 6s);
    EXPECT_EQ(f.Percent(), 25);
    EXPECT_EQ(FiguresText(f), "1000 B / 3.9 KiB  500 B/s  0:06 left  0:02 spent");
    // A narrow display keeps the bytes and the time left longest.
    EXPECT_EQ(FiguresText(f, 30), "1000 B / 3.9 KiB  0:06 left");
    EXPECT_EQ(FiguresText(f, 20), "1000 B / 3.9 KiB");
    EXPECT_EQ(FiguresText(f, 5), "");
    meter.Update(500, kT0 + 3s);  // never back
    EXPECT_EQ(meter.Figures(kT0, kT0 + 3s).done, 1000u);
    meter.Finish(kT0 + 4s);
    f = meter.Figures(kT0, kT0 + 9s);
    EXPECT_TRUE(f.finished);
    EXPECT_EQ(f.phaseElapsed, 4s);  // the time stops with the stage
    EXPECT_EQ(FiguresText(f), "3.9 KiB in 0:04  1000 B/s");
}

TEST(ProgressFigures, Texts) {
    EXPECT_EQ(FormatBytes(512), "512 B");
    EXPECT_EQ(FormatBytes(5000), "4.9 KiB");
    EXPECT_EQ(FormatBytes(300000), "293 KiB");
    EXPECT_EQ(FormatBytes(2 * 1024 * 1024), "2.00 MiB");
    EXPECT_EQ(FormatDuration(7s), "0:07");
    EXPECT_EQ(FormatDuration(725s), "12:05");
    EXPECT_EQ(FormatDuration(3723s), "1:02:03");

    RunSummary flashed;
    flashed.success = true;
    flashed.flashing = true;
    flashed.target = "NOR flash";
    flashed.address = 0xA0000000;
    flashed.imageBytes = 2 * 1024 * 1024;
    flashed.elapsed = 83s;
    flashed.verified = "verified by the flash library's read-back";
    EXPECT_EQ(SummaryText(flashed),
              "Flashed 2.00 MiB (2097152 bytes) to NOR flash at 0xa0000000 in 1:23 (25 KiB/s); verified by the "
              "flash library's read-back");
    RunSummary failed = flashed;
    failed.success = false;
    failed.bytesSent = 30000;
    failed.bytesToSend = 262144;
    failed.elapsed = 5s;
    EXPECT_EQ(SummaryText(failed), "Failed after 0:05: 30000 of 262144 bytes sent");
    failed.flashTouched = true;
    EXPECT_EQ(SummaryText(failed),
              "Failed after 0:05: 30000 of 262144 bytes sent; the flash may hold part of the image");
    // A stream's sent bytes are the library's load: the image's programmed bytes tell how far it got.
    failed.streamed = true;
    failed.bytesSent = failed.bytesToSend = 12154;
    failed.bytesProgrammed = 212992;
    EXPECT_EQ(SummaryText(failed),
              "Failed after 0:05: 212992 of 2097152 image bytes programmed; the flash may hold part of the image");
}

}  // namespace
