// Several boards run at once from one process, each a BoardRun with its own link and
// threads, against real vireo-sim processes: boards that fail fail alone, a stop ends
// a slow download at once, and a retry gets past a one-off fault.
#include "download/board/board_run.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "download/plan/flash_libraries.h"
#include "recording_view.h"
#include "sim_process.h"

namespace sealbench {
namespace {

using namespace std::chrono_literals;
using sealtest::SimProcess;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 7;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

class BoardRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-boardrun-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        settings_.processor = ProcessorType::VireoC_TO2;
        settings_.operation = OperationType::Flashing;
        settings_.flashType = FlashType::Nor;
        settings_.statusSilenceLimit = 5s;
    }
    void TearDown() override {
        unsetenv("BOOTWIRE_USB_SIM");
        std::filesystem::remove_all(dir_);
    }

    std::string Image(const std::vector<uint8_t>& bytes) {
        std::string path = dir_ + "/image.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        settings_.imagePath = path;
        return path;
    }

    // A board with its flash written to a file of its own when it stops.
    std::unique_ptr<SimProcess> Board(const std::string& name, std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"--dump-flash", dir_ + "/" + name + ".flash"});
        auto sim = std::make_unique<SimProcess>("VireoC_TO2", extra);
        EXPECT_TRUE(sim->ok()) << sim->error();
        return sim;
    }

    void ExpectFlashHolds(SimProcess& sim, const std::string& name, const std::vector<uint8_t>& image) {
        EXPECT_EQ(sim.Stop(), 0);
        auto flash = sealtest::ReadFile(dir_ + "/" + name + ".flash");
        ASSERT_GE(flash.size(), image.size()) << name;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << name;
    }

    std::string dir_;
    RunSettings settings_;
};

TEST_F(BoardRunTest, SerialAndUsbBoardsAtOnceAndOneThatCannotBeOpened) {
    if (!HaveBuiltinFlashLibraries()) GTEST_SKIP() << "built without the flash libraries";
    const std::string usbFolder = dir_ + "/usb";
    std::filesystem::create_directory(usbFolder);
    auto a = Board("a");
    auto b = Board("b");
    auto c = Board("c", {"--usb-socket", usbFolder + "/c.sock"});
    ASSERT_TRUE(a->ok() && b->ok() && c->ok());
    setenv("BOOTWIRE_USB_SIM", usbFolder.c_str(), 1);
    std::vector<uint8_t> image = Pattern(0x9000, 5);
    Image(image);

    std::vector<BoardAddress> addresses = {{a->serial(), false, a->serial()},
                                           {UsbBoardName("sim:c"), true, "sim:c"},
                                           {dir_ + "/ttyNothing", false, dir_ + "/ttyNothing"},
                                           {b->serial(), false, b->serial()}};
    std::vector<sealtest::RecordingView> views(addresses.size());
    std::vector<std::unique_ptr<BoardRun>> runs;
    for (size_t i = 0; i < addresses.size(); ++i) runs.push_back(std::make_unique<BoardRun>(addresses[i], views[i]));
    for (auto& run : runs) run->Start(settings_, 0);
    for (auto& run : runs) ASSERT_TRUE(run->Wait(120s)) << run->Address().name;

    for (size_t i : {0u, 1u, 3u}) {
        BoardStatus status = runs[i]->Status();
        EXPECT_EQ(status.state, BoardState::Succeeded) << addresses[i].name << ": " << status.reason;
        EXPECT_EQ(status.tries, 1);
        EXPECT_GT(status.bytesSent, image.size());
        EXPECT_EQ(views[i].lines().back(), "Flashing Completed\n");
    }
    EXPECT_EQ(views[1].lines()[1], "USB is using");
    BoardStatus missing = runs[2]->Status();
    EXPECT_EQ(missing.state, BoardState::Failed);
    EXPECT_EQ(missing.reason, "Cannot Open " + dir_ + "/ttyNothing");
    EXPECT_TRUE(views[2].lines().empty());
    ASSERT_FALSE(views[2].diagnostics().empty());
    runs.clear();
    ExpectFlashHolds(*a, "a", image);
    ExpectFlashHolds(*b, "b", image);
    ExpectFlashHolds(*c, "c", image);
}

TEST_F(BoardRunTest, StopEndsAPacedDownloadWithinASecondOrTwo) {
    auto sim = Board("slow", {"--pace"});
    ASSERT_TRUE(sim->ok());
    Image(Pattern(0x40000, 6));  // some 25 s on the paced line
    sealtest::RecordingView view;
    BoardRun run({sim->serial(), false, sim->serial()}, view);
    run.Start(settings_, 3);
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (run.Status().bytesSent == 0 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_FALSE(run.Wait(20ms)) << run.Status().reason;
    }
    ASSERT_GT(run.Status().bytesSent, 0u);
    auto stopped = std::chrono::steady_clock::now();
    run.Stop();
    ASSERT_TRUE(run.Wait(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 10s);
    BoardStatus status = run.Status();
    EXPECT_EQ(status.state, BoardState::Stopped);
    EXPECT_EQ(status.reason, "Stopped");
    EXPECT_EQ(status.tries, 1);  // no retry after a stop
    EXPECT_LT(status.bytesSent, 0x40000u);
}

TEST_F(BoardRunTest, RetryGetsPastAOneOffFaultWithTheMemoryInitAgain) {
    auto sim = Board("once", {"--fault", "reg-word:1"});
    ASSERT_TRUE(sim->ok());
    settings_.operation = OperationType::DownloadOnly;
    Image(Pattern(0x3000, 7));
    sealtest::RecordingView view;
    BoardRun run({sim->serial(), false, sim->serial()}, view);
    run.Start(settings_, 2);
    ASSERT_TRUE(run.Wait(60s));
    BoardStatus status = run.Status();
    EXPECT_EQ(status.state, BoardState::Succeeded) << status.reason;
    EXPECT_EQ(status.tries, 2);
    std::vector<std::string> lines = view.lines();
    // The banner once; the first try's memory initialisation failed.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "VireoC Sealbench ver 1.3s\n"), 1);
    EXPECT_NE(
        std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Error! - ", 0) == 0; }),
        lines.end());
    EXPECT_EQ(lines.back(), "Downloading Complete - Program executing at 0x80004000");
}

}  // namespace
}  // namespace sealbench
