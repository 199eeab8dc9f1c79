// Runs of the target core against the real vireo-sim process, over its pty and
// its USB socket: complete downloads and flashings, the flash library's error
// words, and boards that fall silent.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "download/plan/flash_libraries.h"
#include "download/run/runner.h"
#include "recording_view.h"
#include "sim_process.h"

namespace sealbench {
namespace {

using namespace std::chrono_literals;
using sealtest::SimProcess;

// A flash library that never reports: the library area with "b ." at its entry.
std::vector<uint8_t> EndlessLoopLibrary() {
    std::vector<uint8_t> library(0x4004, 0);
    const uint8_t branchToSelf[] = {0xFE, 0xFF, 0xFF, 0xEA};
    std::copy(std::begin(branchToSelf), std::end(branchToSelf), library.begin() + 0x4000);
    return library;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

class SimRun : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-simrun-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        dump_ = dir_ + "/flash.bin";
    }
    void TearDown() override {
        runner_.reset();
        link_.Detach();
        sim_.reset();
        std::filesystem::remove_all(dir_);
    }

    // Starts the board (writing its flash to dump_ at the end) and opens the link.
    void Start(const std::string& cpu, std::vector<std::string> extra = {}, bool usb = false) {
        runner_.reset();
        extra.push_back("--dump-flash");
        extra.push_back(dump_);
        sim_ = std::make_unique<SimProcess>(cpu, std::move(extra), usb);
        ASSERT_TRUE(sim_->ok());
        ProcessorType type = *ProcessorTypeFromName(cpu);
        bootwire::Error error = bootwire::Error::Ok;
        std::string detail;
        std::unique_ptr<bootwire::Transport> transport;
        if (usb) {
            setenv("BOOTWIRE_USB_SIM", sim_->usbSocket().c_str(), 1);
            transport = bootwire::OpenUsb(&error, &detail);
        } else {
            transport = bootwire::OpenSerial(sim_->serial(), PresetOf(type).lineMode, &error, &detail);
        }
        ASSERT_TRUE(transport) << detail;
        link_.Attach(std::move(transport));
        runner_ = std::make_unique<Runner>(view_, session_);
        board_ = {&link_, usb, {}};
        if (usb) {
            // As the window's "Execute" does through Vireo_USBEnum.
            board_.reenumerate = [this] {
                bootwire::Error e = bootwire::Error::Ok;
                std::string why;
                if (auto again = bootwire::OpenUsb(&e, &why)) link_.Attach(std::move(again));
                return &link_;
            };
        }
        settings_.processor = type;
        settings_.statusSilenceLimit = 3s;
    }

    std::string File(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    void Image(const std::vector<uint8_t>& bytes) { settings_.imagePath = File("image.bin", bytes); }

    void Flashing(FlashType type) {
        settings_.operation = OperationType::Flashing;
        settings_.flashType = type;
    }

    // Execute and a bounded wait; the last status-log line.
    std::string Run() {
        if (!runner_->Execute(settings_, board_)) {
            return view_.lines().empty() ? "" : view_.lines().back();
        }
        EXPECT_TRUE(runner_->WaitIdle(120s));
        return view_.lines().back();
    }

    // A failed run's specified line and the hint after it that says what to do.
    std::pair<std::string, std::string> RunFailing() {
        Run();
        const auto& lines = view_.lines();
        if (lines.size() < 2) return {};
        return {lines[lines.size() - 2], lines.back()};
    }

    // Waits (bounded) until the board has said `text` on its stderr.
    bool WaitForBoard(const std::string& text) { return sim_->WaitForStderr(text, 30s); }

    std::vector<unsigned char> StopAndReadFlash() {
        EXPECT_EQ(sim_->Stop(), 0);
        return sealtest::ReadFile(dump_);
    }

    std::string dir_;
    std::string dump_;
    std::unique_ptr<SimProcess> sim_;
    sealtest::RecordingView view_;
    Session session_;
    bootwire::Link link_;
    BoardLink board_;
    std::unique_ptr<Runner> runner_;
    RunSettings settings_;
};

TEST_F(SimRun, DownloadOverPtyShowsBytesSent) {
    Start("VireoC_TO1", {"--pace"});
    Image(Pattern(0x8000, 1));
    settings_.memoryInit = {false, false, ""};
    EXPECT_EQ(Run(), "Downloading Complete - Program executing at 0x80004000");
    auto lines = view_.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "VireoC Sealbench ver 1.3s\n");
    EXPECT_EQ(lines[1], "UART is using");
    // The bar follows the bytes on the paced line: from 0 to all 0x8000 + 1024 of them.
    auto ranges = view_.ranges();
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(ranges.front(), std::make_pair(int64_t{0}, int64_t{0x8000 + 1024}));
    auto positions = view_.positions();
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 0x8000 + 1024);
    EXPECT_GT(std::set<int64_t>(positions.begin(), positions.end()).size(), 3u);
}

TEST_F(SimRun, FlashingNorOverPtyWritesTheImage) {
    if (!HaveBuiltinFlashLibraries()) GTEST_SKIP() << "built without the flash libraries";
    Start("VireoC_TO2");
    std::vector<uint8_t> image = Pattern(0x30000, 2);
    Image(image);
    Flashing(FlashType::Nor);
    settings_.memoryInit = {true, false, ""};
    EXPECT_EQ(Run(), "Flashing Completed\n");
    std::vector<unsigned char> flash = StopAndReadFlash();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    auto captions = view_.captions();
    EXPECT_NE(std::find(captions.begin(), captions.end(), "Downloading:"), captions.end());
}

TEST_F(SimRun, FlashingNorOnVireoBAtAnAddress) {
    if (!HaveBuiltinFlashLibraries()) GTEST_SKIP() << "built without the flash libraries";
    Start("VireoB");
    std::vector<uint8_t> image = Pattern(0x9000, 9);
    Image(image);
    Flashing(FlashType::Nor);
    settings_.useDefaultAddress = false;
    settings_.addressText = "C0040000";
    EXPECT_EQ(Run(), "Flashing Completed\n");
    std::vector<unsigned char> flash = StopAndReadFlash();
    ASSERT_GE(flash.size(), 0x40000 + image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 0x40000));
}

TEST_F(SimRun, FlashingNandOverUsbThenUsbIsEnumeratedAgain) {
    if (!HaveBuiltinFlashLibraries()) GTEST_SKIP() << "built without the flash libraries";
    Start("VireoC_TO1", {}, true);
    std::vector<uint8_t> image = Pattern(0x6000, 3);
    Image(image);
    Flashing(FlashType::Nand);
    settings_.partitionSizeText = "100000";
    EXPECT_EQ(Run(), "Flashing Completed\n");
    EXPECT_EQ(view_.lines()[1], "USB is using");
    EXPECT_TRUE(session_.flashingDownloadDone);

    // The board comes back as a new USB device once the library has handed it
    // back to the boot ROM; the next run reaches it only because "Execute"
    // enumerates again first.
    ASSERT_TRUE(WaitForBoard("USB device re-enumerates"));
    settings_.operation = OperationType::DownloadOnly;
    Image(Pattern(4096, 4));
    EXPECT_EQ(Run(), "Downloading Complete - Program executing at 0x80004000")
        << ::testing::PrintToString(view_.diagnostics()) << sim_->Stderr();
    std::vector<unsigned char> flash = StopAndReadFlash();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(SimRun, StatusWordErrors) {
    struct Case {
        const char* fault;
        const char* line;
    };
    for (Case c : {Case{"status-word:1:0x00B10000", "Error!!- Reason: Flashing Erase Error\n"},
                   Case{"status-word:1:0x00B20000", "Error!!- Reason: Flashing Program Error\n"},
                   Case{"status-word:1:0x00B30000", "Error!!- Reason: Flashing Verifying Error\n"}}) {
        SCOPED_TRACE(c.fault);
        Start("VireoC_TO1", {"--fault", c.fault});
        Image(Pattern(2048, 5));
        Flashing(FlashType::UserInput);
        // The fault answers the first query in place of the library.
        settings_.flashLibPath = File("loop.bin", EndlessLoopLibrary());
        settings_.useDefaultAddress = false;
        settings_.addressText = "A0000000";
        settings_.memoryInit = {false, false, ""};
        EXPECT_EQ(Run(), c.line);
    }
}

TEST_F(SimRun, AStatusWordTheBuiltinLibraryNeverSendsEndsTheRunAsOutOfStep) {
    // Two answers run together: the done code with a count, and a count past the image.
    for (const char* word : {"00B400A2", "00A2FFFF"}) {
        SCOPED_TRACE(word);
        Start("VireoC_TO2", {"--fault", std::string("status-word:2:") + word});
        Image(Pattern(0x20000, 5));
        Flashing(FlashType::Nor);
        settings_.memoryInit = {false, false, ""};
        auto [line, hint] = RunFailing();
        EXPECT_EQ(line, "Error!!- Reason: The answers of the flash library went out of step: 0x" + std::string(word) +
                            " is no status word it sends");
        EXPECT_NE(hint.find("the flash may be partly written"), std::string::npos) << hint;
    }
}

TEST_F(SimRun, SilentBoardFailsTheMemoryInitialisation) {
    Start("VireoB", {"--fault", "silent-after:16"});
    Image(Pattern(2048, 6));
    settings_.memoryInit = {true, false, ""};
    auto [line, hint] = RunFailing();
    EXPECT_EQ(line, "Error! - DDR memory init error");
    EXPECT_EQ(hint, "the board did not answer: is it in boot-ROM download mode? reset it and retry");
    EXPECT_FALSE(runner_->Running());
}

TEST_F(SimRun, BoardThatStopsReadingMidDownload) {
    Start("VireoC_TO2", {"--fault", "silent-after:40000"});
    Image(Pattern(0x80000, 7));
    settings_.memoryInit = {false, false, ""};
    auto [line, hint] = RunFailing();
    EXPECT_EQ(line, "Error!!- Reason: Downloading Error\n");
    EXPECT_EQ(hint, "the board did not answer: is it in boot-ROM download mode? reset it and retry");
    EXPECT_FALSE(runner_->LastRunSucceeded());
}

TEST_F(SimRun, FlashLibraryThatStopsAnswering) {
    Start("VireoC_TO1");
    settings_.flashLibPath = File("loop.bin", EndlessLoopLibrary());
    Image(Pattern(0x1000, 9));
    Flashing(FlashType::UserInput);
    settings_.useDefaultAddress = false;
    settings_.addressText = "A0000000";
    settings_.memoryInit = {false, false, ""};
    auto [line, hint] = RunFailing();
    EXPECT_EQ(line, "Error!!- Reason: The flash library stopped answering: no status word for 3 s");
    // It answered before: not sent to check the boot-ROM mode.
    EXPECT_NE(hint.find("the flash library fell silent while flashing"), std::string::npos) << hint;
}

TEST_F(SimRun, ABuiltInLibraryThatNeverAnswersAsksWhetherTheProcessorIsRight) {
    // VireoB's library, loaded for VireoB's RAM, on a VireoC board: it never starts.
    Start("VireoC_TO2");
    settings_.processor = ProcessorType::VireoB;
    Image(Pattern(0x4000, 5));
    Flashing(FlashType::Nor);
    settings_.memoryInit = {false, false, ""};
    auto [line, hint] = RunFailing();
    EXPECT_EQ(line, "Error!!- Reason: The flash library stopped answering: no status word for 3 s");
    EXPECT_EQ(hint, std::string(kNeverAnsweredHint));
}

TEST_F(SimRun, ABoardThatIsGoneEndsThePollingAtOnce) {
    for (bool usb : {false, true}) {
        SCOPED_TRACE(usb ? "USB socket" : "pty");
        Start("VireoC_TO1", {}, usb);
        settings_.flashLibPath = File("loop.bin", EndlessLoopLibrary());
        Image(Pattern(0x1000, 9));
        Flashing(FlashType::UserInput);
        settings_.useDefaultAddress = false;
        settings_.addressText = "A0000000";
        settings_.memoryInit = {false, false, ""};
        // Far longer than the run may take: only the lost link can end it in time.
        settings_.statusSilenceLimit = 600s;
        const size_t captionsBefore = view_.captions().size();
        ASSERT_TRUE(runner_->Execute(settings_, board_));
        auto polling = [&] {
            auto captions = view_.captions();
            return std::find(captions.begin() + static_cast<std::ptrdiff_t>(captionsBefore), captions.end(),
                             "Start Flashing:") != captions.end();
        };
        auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!polling() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(polling());
        sim_->Signal(SIGKILL);
        ASSERT_TRUE(runner_->WaitIdle(120s));
        const std::string last = view_.lines().back();
        EXPECT_EQ(last.rfind("Error!!- Reason: The link to the board was lost during flashing: ", 0), 0u) << last;
    }
}

// A program for RAM base + 0x4000 that hands the board straight back to its boot
// ROM, followed by `size` bytes of pattern: what a DOWNLOAD run leaves in memory
// can then be read back.
std::vector<uint8_t> ReturningImage(uint32_t ramBase, size_t size, uint32_t seed) {
    // System control at RAM base + 0x3800B000 on both processors: VireoC 0xB800B000, VireoB 0xD800B000.
    const uint32_t bootControl = ramBase + 0x3800B008;
    const uint32_t words[] = {0xE59F0008,  0xE59F1008, 0xE5801000, 0xEAFFFFFE,  // ldr r0; ldr r1; str r1,[r0]; b .
                              bootControl, 0x524F4D21};
    std::vector<uint8_t> image = Pattern(size, seed);
    for (size_t i = 0; i < std::size(words); ++i) {
        for (int b = 0; b < 4; ++b) image[4 * i + b] = static_cast<uint8_t>(words[i] >> (8 * b));
    }
    return image;
}

// Two boards, each with its own link, runner and session, downloading at the same
// time from one process.
TEST(TwoBoards, DownloadAtOnceFromOneProcess) {
    struct Board {
        std::unique_ptr<SimProcess> sim;
        bootwire::Link link;
        sealtest::RecordingView view;
        Session session;
        std::unique_ptr<Runner> runner;
        std::vector<uint8_t> image;
        RunSettings settings;
    };
    char pattern[] = "/tmp/sealbench-twoboards-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::filesystem::path dir = pattern;
    Board boards[2];
    const char* cpus[] = {"VireoC_TO2", "VireoB"};
    for (int i = 0; i < 2; ++i) {
        Board& b = boards[i];
        b.sim = std::make_unique<SimProcess>(cpus[i], std::vector<std::string>{"--pace"});  // both runs overlap
        ASSERT_TRUE(b.sim->ok()) << b.sim->error();
        ProcessorType type = *ProcessorTypeFromName(cpus[i]);
        bootwire::Error error = bootwire::Error::Ok;
        std::string detail;
        b.link.Attach(bootwire::OpenSerial(b.sim->serial(), PresetOf(type).lineMode, &error, &detail));
        ASSERT_TRUE(b.link.IsOpen()) << detail;
        b.runner = std::make_unique<Runner>(b.view, b.session);
        b.image = ReturningImage(PresetOf(type).ramBase, 0x2000 + 0x100 * i, 40 + i);
        std::string path = dir / ("image" + std::to_string(i) + ".bin");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.image.data()), static_cast<std::streamsize>(b.image.size()));
        b.settings.processor = type;
        b.settings.imagePath = path;
    }
    for (Board& b : boards) ASSERT_TRUE(b.runner->Execute(b.settings, {&b.link, false, {}}));
    for (Board& b : boards) {
        ASSERT_TRUE(b.runner->WaitIdle(120s));
        EXPECT_TRUE(b.runner->LastRunSucceeded()) << ::testing::PrintToString(b.view.lines());
        ASSERT_TRUE(b.sim->WaitForStderr("program ended"));
    }
    EXPECT_EQ(boards[0].view.lines().back(), "Downloading Complete - Program executing at 0x80004000");
    EXPECT_EQ(boards[1].view.lines().back(), "Downloading Complete - Program executing at 0xa0004000");
    for (Board& b : boards) {
        std::vector<uint8_t> back(b.image.size());
        uint32_t at = PresetOf(b.settings.processor).DefaultRamAddress();
        ASSERT_EQ(b.link.ReadData(at, back.data(), back.size(), 32), bootwire::Error::Ok) << b.link.ErrorDetail();
        EXPECT_EQ(back, b.image);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace sealbench
