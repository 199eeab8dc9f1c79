// "Execute" over an in-process board: the order of its checks, what goes on the
// wire for each kind of run, the flash library's status words, and the debug
// operations.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "download/plan/download_layout.h"
#include "download/plan/flash_libraries.h"
#include "download/run/runner.h"
#include "fake_board.h"
#include "recording_view.h"

namespace sealbench {
namespace {

using namespace std::chrono_literals;
using sealtest::FakeBoard;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t at) {
    if (at + 4 > bytes.size()) {
        ADD_FAILURE() << "offset " << at << " is past the " << bytes.size() << " bytes sent";
        return 0xFFFFFFFF;
    }
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

class ExecuteTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-execute-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        runner_ = std::make_unique<Runner>(view_, session_);
    }
    void TearDown() override {
        runner_.reset();
        std::filesystem::remove_all(dir_);
    }

    std::string File(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    RunSettings Download(ProcessorType type, const std::vector<uint8_t>& image) {
        RunSettings s;
        s.processor = type;
        s.operation = OperationType::DownloadOnly;
        s.imagePath = File("image.bin", image);
        s.memoryInit = {false, false, ""};
        s.statusSilenceLimit = 500ms;
        return s;
    }

    RunSettings UserFlashing(ProcessorType type, const std::vector<uint8_t>& library,
                             const std::vector<uint8_t>& image) {
        RunSettings s = Download(type, image);
        s.operation = OperationType::Flashing;
        s.flashType = FlashType::UserInput;
        s.flashLibPath = File("flashlib.bin", library);
        s.useDefaultAddress = false;
        s.addressText = "A0000000";
        return s;
    }

    // Runs Execute and waits (bounded) for the tasks; false when nothing started.
    // The board the window's choices would name: the USB link, the serial link, or
    // none while no port is chosen.
    BoardLink Board() {
        if (usbChannel_) {
            return {usb_.link.get(), true, [this] {
                        ++reenumerations_;
                        framesAtReenumeration_ = usb_.board->Record().frames.size();
                        return usb_.link.get();
                    }};
        }
        return {portChosen_ ? serial_.link.get() : nullptr, false, {}};
    }

    bool Run(const RunSettings& s) {
        if (!runner_->Execute(s, Board())) return false;
        EXPECT_TRUE(runner_->WaitIdle(60s));
        return true;
    }

    std::string dir_;
    sealtest::FakeLink serial_;
    sealtest::FakeLink usb_;
    sealtest::RecordingView view_;
    Session session_;
    bool usbChannel_ = false;
    bool portChosen_ = true;
    std::unique_ptr<Runner> runner_;
    int reenumerations_ = 0;
    size_t framesAtReenumeration_ = 0;
};

TEST_F(ExecuteTest, EachCheckLogsOneLineAndStartsNothing) {
    RunSettings s = Download(ProcessorType::None, Pattern(2048, 1));
    EXPECT_FALSE(Run(s));
    EXPECT_EQ(view_.lines(), std::vector<std::string>{"Please select the Vireo version!\n"});
    EXPECT_TRUE(session_.bannerPending);

    s.processor = ProcessorType::VireoB;
    s.flashType = FlashType::Nand;  // refused even for DOWNLOAD only
    EXPECT_FALSE(Run(s));
    EXPECT_EQ(view_.lines().back(), "VireoB not support NAND flash yet!\n");
    EXPECT_TRUE(session_.bannerPending);

    s.flashType = FlashType::Nor;
    portChosen_ = false;
    EXPECT_FALSE(Run(s));
    auto lines = view_.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "VireoB Sealbench ver 1.0\n");
    EXPECT_EQ(lines[3], "Error! - Please select the Com port");

    portChosen_ = true;
    s.useDefaultAddress = false;
    s.addressText = "FFFFFFFF";
    EXPECT_FALSE(Run(s));
    // The refusal, then the ranges that would be accepted.
    EXPECT_EQ(view_.lines().end()[-2], "Error! - Incorrect Input Memory Address\n");
    EXPECT_EQ(view_.lines().back(),
              "The RAM application address must lie in 0xFFFF4C00 to 0xFFFFFFFE or 0xA0000000 to 0xD8000FFE");

    // Nine digits are read as the page reads them, by their first eight (0x1A000400 here).
    s.addressText = "1A0004000";
    EXPECT_FALSE(Run(s));
    EXPECT_EQ(view_.lines().end()[-2], "Error! - Incorrect Input Memory Address\n");
    s.addressText = "1A00040000";
    EXPECT_FALSE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Error! - The address must have at most 8 hexadecimal digits");

    s.useDefaultAddress = true;
    s.memoryInit = {true, false, ""};
    serial_.board->failRegisterWrite = 3;
    EXPECT_FALSE(Run(s));
    EXPECT_EQ(view_.lines().size(), 11u);
    EXPECT_EQ(view_.lines()[9], "UART is using");
    EXPECT_EQ(view_.lines()[10], "Error! - DDR memory init error");
    EXPECT_EQ(serial_.board->Record().payloads.size(), 0u);
    EXPECT_EQ(serial_.board->Record().registerWrites, 3);
    EXPECT_FALSE(runner_->Running());
    EXPECT_TRUE(view_.ended().empty());
}

TEST_F(ExecuteTest, RamAddressRanges) {
    const ProcessorPreset& c = PresetOf(ProcessorType::VireoC_TO2);
    for (uint32_t ok : {0x1FFFC000u, 0x80000000u, 0xB7FFFFFFu}) EXPECT_TRUE(c.AcceptsRamAddress(ok)) << ok;
    for (uint32_t bad : {0x1FFFFFFFu, 0xB8000000u, 0u}) EXPECT_FALSE(c.AcceptsRamAddress(bad)) << bad;
    const ProcessorPreset& b = PresetOf(ProcessorType::VireoB);
    for (uint32_t ok : {0xFFFF4C00u, 0xA0000000u, 0xD8000FFEu}) EXPECT_TRUE(b.AcceptsRamAddress(ok)) << ok;
    for (uint32_t bad : {0xFFFFFFFFu, 0xD8000FFFu}) EXPECT_FALSE(b.AcceptsRamAddress(bad)) << bad;
}

TEST_F(ExecuteTest, OversizedAndShortFilesAreRefusedBeforeAnythingIsSent) {
    RunSettings s = Download(ProcessorType::VireoC_TO1, Pattern(0x4000, 2));
    s.memoryInit = {true, false, ""};
    s.secure = true;
    EXPECT_FALSE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Error! - A combined image must be larger than 0x4000 bytes with CSF HWC");

    std::string big = dir_ + "/big.bin";
    std::ofstream(big, std::ios::binary).close();
    std::filesystem::resize_file(big, kMaxImageSize + 1);
    s.secure = false;
    s.imagePath = big;
    EXPECT_FALSE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Error! - The image file is too large: it must be at most 0x2000000 bytes");

    s.imagePath = File("empty.bin", {});
    EXPECT_FALSE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Error! - The image file is empty");

    s = UserFlashing(ProcessorType::VireoC_TO1, Pattern(0x5000, 3), Pattern(100, 4));
    s.flashType = FlashType::Nand;
    s.partitionSizeText = "1234567890";
    EXPECT_FALSE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Error! - The partition size must have at most 8 hexadecimal digits");
    EXPECT_TRUE(serial_.board->Record().frames.empty());
}

TEST_F(ExecuteTest, BannerOncePerProgramRun) {
    RunSettings s = Download(ProcessorType::VireoC_TO2, Pattern(3000, 5));
    ASSERT_TRUE(Run(s));
    ASSERT_TRUE(Run(s));
    auto lines = view_.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "VireoC Sealbench ver 1.3s\n"), 1);
    EXPECT_EQ(lines.front(), "VireoC Sealbench ver 1.3s\n");
    auto counts = view_.counts();
    for (size_t i = 0; i < counts.size(); ++i) EXPECT_EQ(counts[i], static_cast<int>(i) + 1);
}

TEST_F(ExecuteTest, PlainDownloadOverUsb) {
    std::vector<uint8_t> image = Pattern(0x1F0001, 6);
    RunSettings s = Download(ProcessorType::VireoB, image);
    usbChannel_ = true;
    portChosen_ = false;  // USB needs no port
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Downloading Complete - Program executing at 0xa0004000");
    EXPECT_EQ(view_.lines()[1], "USB is using");
    EXPECT_TRUE(runner_->LastRunSucceeded());
    EXPECT_EQ(view_.ended(), std::vector<bool>{true});
    auto record = usb_.board->Record();
    ASSERT_EQ(record.payloads.size(), 3u);  // two pieces and the application header
    EXPECT_EQ(FakeBoard::Be(record.frames[0], 2), 0xA0004000u);
    EXPECT_EQ(FakeBoard::Be(record.frames[1], 2), 0xA0004000u + 0x1F0000u);
    EXPECT_EQ(record.frames[2][15], 0xAA);
    EXPECT_EQ(record.payloads[1], std::vector<uint8_t>(image.end() - 1, image.end()));
    EXPECT_EQ(record.payloads[2], std::vector<uint8_t>(image.begin(), image.begin() + 1024));
    EXPECT_TRUE(serial_.board->Record().frames.empty());
    EXPECT_EQ(runner_->Snapshot().phase, kPhaseIdle);
}

TEST_F(ExecuteTest, CombinedImageWindows) {
    std::vector<uint8_t> file = Pattern(0x4100, 7);
    RunSettings s = Download(ProcessorType::VireoC_TO1, file);
    s.secure = true;
    s.useDefaultAddress = false;
    s.addressText = "80100000";
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Downloading Complete - Program executing at 0x80100000");
    auto record = serial_.board->Record();
    ASSERT_EQ(record.payloads.size(), 4u);
    EXPECT_EQ(FakeBoard::Be(record.frames[0], 2), 0x80001010u);
    EXPECT_EQ(record.frames[0][15], 0xEE);
    EXPECT_EQ(record.payloads[0], std::vector<uint8_t>(file.begin() + 0x1010, file.begin() + 0x1200));
    EXPECT_EQ(FakeBoard::Be(record.frames[1], 2), 0x80001200u);
    EXPECT_EQ(record.frames[1][15], 0xCC);
    EXPECT_EQ(record.payloads[1], std::vector<uint8_t>(file.begin() + 0x1200, file.begin() + 0x4000));
    EXPECT_EQ(FakeBoard::Be(record.frames[2], 2), 0x80100000u);
    EXPECT_EQ(record.payloads[2], std::vector<uint8_t>(file.begin() + 0x4000, file.end()));
    // The application header resends 1024 bytes: the image part and zeros after it.
    std::vector<uint8_t> head(file.begin() + 0x4000, file.end());
    head.resize(1024, 0);
    EXPECT_EQ(record.payloads[3], head);
}

TEST_F(ExecuteTest, WorkerReasons) {
    RunSettings s = Download(ProcessorType::VireoC_TO1, Pattern(3000, 8));
    serial_.board->complete = false;
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Error!!- Reason: Invalid Application\n");
    EXPECT_FALSE(runner_->LastRunSucceeded());

    s.imagePath = dir_ + "/missing.bin";
    EXPECT_FALSE(Run(s)) << "refused before the memory initialisation";
    EXPECT_EQ(view_.lines().end()[-2], "Error!!- Reason: Can't open image file!");
    EXPECT_EQ(view_.lines().back(), "The image file " + s.imagePath + " cannot be read: No such file or directory");

    s.operation = OperationType::None;
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Error!!- Reason: Type of Operation Undefined");
    EXPECT_EQ(runner_->Snapshot().phase, kPhaseIdle);
}

TEST_F(ExecuteTest, UserLibraryParameterBlockAndStatusWords) {
    std::vector<uint8_t> library = Pattern(0xFFFF, 9);
    std::vector<uint8_t> image = Pattern(0x3000, 10);
    RunSettings s = UserFlashing(ProcessorType::VireoC_TO2, library, image);
    s.addressText = "zebra";  // not hexadecimal: flash address 0, and not checked
    serial_.board->statusWords = {0x00A10000, 0x00030000, 0x00A20123, 0x00A30000, 0x00B40000};
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Flashing Completed\n");
    auto record = serial_.board->Record();
    ASSERT_EQ(record.payloads.size(), 2u);
    EXPECT_EQ(FakeBoard::Be(record.frames[0], 2), 0x80004000u);
    EXPECT_EQ(FakeBoard::Be(record.frames[0], 7), 0x3000u + 0xC000u);
    const std::vector<uint8_t>& sent = record.payloads[0];
    ASSERT_EQ(sent.size(), 0xF000u);
    EXPECT_TRUE(std::equal(library.begin() + 0x4000, library.begin() + 0xFFE0, sent.begin()));
    EXPECT_EQ(WordAt(sent, 0xFFE0 - 0x4000), 0u);
    EXPECT_EQ(WordAt(sent, 0xFFF0 - 0x4000), 0x80010000u);
    EXPECT_EQ(WordAt(sent, 0xFFF8 - 0x4000), 0x3000u);
    EXPECT_EQ(WordAt(sent, 0xFFFC - 0x4000), 0u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), sent.begin() + 0xC000));
    EXPECT_EQ(record.statusQueries, 5);  // a stray word does not end the run
    EXPECT_TRUE(session_.flashingDownloadDone);

    // The captions the bar went through follow the flash library's phases.
    std::vector<std::string> order{
        "Downloading:", "Start Flashing:", "Flash Erase:", "Flash Program:", "Flash Verify:"};
    auto at = order.begin();
    for (const std::string& caption : view_.captions()) {
        at = std::find(at, order.end(), caption);
        ASSERT_NE(at, order.end()) << caption;
    }
}

TEST_F(ExecuteTest, FlashLibraryFailuresAndLimits) {
    struct Case {
        uint32_t word;
        const char* line;
    };
    for (Case c : {Case{0x00B10000, "Error!!- Reason: Flashing Erase Error\n"},
                   Case{0x00B2FFFF, "Error!!- Reason: Flashing Program Error\n"},
                   Case{0x00B30000, "Error!!- Reason: Flashing Verifying Error\n"}}) {
        RunSettings s = UserFlashing(ProcessorType::VireoC_TO1, Pattern(0x4100, 11), Pattern(64, 12));
        serial_.board->statusWords = {0x00A10000, c.word};
        ASSERT_TRUE(Run(s));
        EXPECT_EQ(view_.lines().back(), c.line);
    }
    RunSettings s = UserFlashing(ProcessorType::VireoC_TO1, Pattern(0x10000, 13), Pattern(64, 14));
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Error!!- Reason: Flash Library Size too large, it must be < 0x10000");
    s.flashLibPath = dir_ + "/nothing.bin";
    EXPECT_FALSE(Run(s)) << "refused before the memory initialisation";
    EXPECT_EQ(view_.lines().end()[-2], "Error!!- Reason: Can't open the Flash Library");
    EXPECT_EQ(view_.lines().back(),
              "The flash library " + s.flashLibPath + " cannot be read: No such file or directory");
    s = UserFlashing(ProcessorType::VireoC_TO1, Pattern(0x4100, 11), Pattern(64, 12));
    s.imagePath = dir_ + "/nothing.bin";
    EXPECT_FALSE(Run(s)) << "refused before the memory initialisation";
    EXPECT_EQ(view_.lines().end()[-2], "Error!!- Reason: Can't open the Image File");
    s.flashType = FlashType::None;
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Error!!- Reason: Please Select a Flash library\n");
}

TEST_F(ExecuteTest, SilentFlashLibraryEndsTheRunAndASecondExecuteIsRefused) {
    RunSettings s = UserFlashing(ProcessorType::VireoC_TO1, Pattern(0x4100, 15), Pattern(64, 16));
    s.statusSilenceLimit = 2s;
    serial_.board->statusWords = {0x00A10000};  // then nothing more
    ASSERT_TRUE(runner_->Execute(s, Board()));
    EXPECT_FALSE(runner_->Execute(s, Board()));
    ASSERT_TRUE(runner_->WaitIdle(60s));
    auto lines = view_.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Error! - A run is in progress; wait for it to end"), lines.end());
    EXPECT_EQ(lines.end()[-2], "Error!!- Reason: The flash library stopped answering: no status word for 2 s");
    EXPECT_EQ(lines.back(),
              "the flash library fell silent while flashing: the flash may be partly written; reset the board into "
              "boot-ROM download mode and flash again");
    EXPECT_EQ(view_.ended(), std::vector<bool>{false});
}

TEST_F(ExecuteTest, UsbIsEnumeratedAgainAfterAFlashingDownload) {
    RunSettings s = UserFlashing(ProcessorType::VireoC_TO1, Pattern(0x4100, 17), Pattern(64, 18));
    usbChannel_ = true;
    s.memoryInit = {true, false, ""};
    usb_.board->statusWords = {0x00B40000};
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(reenumerations_, 0);
    size_t framesAfterFirst = usb_.board->Record().frames.size();
    usb_.board->statusWords = {0x00B40000};
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(reenumerations_, 1);
    EXPECT_EQ(framesAtReenumeration_, framesAfterFirst);  // before the memory initialisation
    auto payloads = usb_.board->Record().payloads;
    EXPECT_EQ(WordAt(payloads[payloads.size() - 2], 0xFFFC - 0x4000), 1u);  // the library reports over USB
}

TEST_F(ExecuteTest, BuiltinNorLibraryOnVireoC_TO2) {
    if (!HaveBuiltinFlashLibraries()) GTEST_SKIP() << "built without the flash libraries";
    std::vector<uint8_t> image = Pattern(0x100000, 19);
    RunSettings s = Download(ProcessorType::VireoC_TO2, image);
    s.operation = OperationType::Flashing;
    s.flashType = FlashType::Nor;
    serial_.board->statusWords = {0x00B40000};
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(view_.lines().back(), "Flashing Completed\n");
    auto record = serial_.board->Record();
    EXPECT_EQ(FakeBoard::Be(record.frames[0], 2), 0x80004000u);
    EXPECT_EQ(FakeBoard::Be(record.frames[0], 7), 0x10C000u);
    const std::vector<uint8_t>& sent = record.payloads[0];
    EXPECT_EQ(WordAt(sent, 0xFFE0 - 0x4000), 0xA0000000u);
    EXPECT_EQ(WordAt(sent, 0xFFE4 - 0x4000), 0u);
    EXPECT_EQ(WordAt(sent, 0xFFF0 - 0x4000), 0x80010000u);
    EXPECT_EQ(WordAt(sent, 0xFFF4 - 0x4000), 0xA0000000u);
    EXPECT_EQ(WordAt(sent, 0xFFF8 - 0x4000), 0x00100000u);
    EXPECT_EQ(WordAt(sent, 0xFFFC - 0x4000), 0u);
}

TEST_F(ExecuteTest, NandPartitionSize) {
    if (!HaveBuiltinFlashLibraries()) GTEST_SKIP() << "built without the flash libraries";
    RunSettings s = Download(ProcessorType::VireoC_TO1, Pattern(0x800, 20));
    s.operation = OperationType::Flashing;
    s.flashType = FlashType::Nand;
    s.partitionSizeText = "100000";
    serial_.board->statusWords = {0x00B40000};
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(WordAt(serial_.board->Record().payloads[0], 0xFFE4 - 0x4000), 0x000FFFFFu);
    // The second run's first payload: the library, its parameter block and the image.
    const size_t secondRun = serial_.board->Record().payloads.size();
    s.partitionSizeText = "";
    serial_.board->statusWords = {0x00B40000};
    ASSERT_TRUE(Run(s));
    EXPECT_EQ(WordAt(serial_.board->Record().payloads[secondRun], 0xFFE4 - 0x4000), 0u);
}

TEST_F(ExecuteTest, DebugOperationsKeepCountingLines) {
    RunSettings s = Download(ProcessorType::VireoC_TO1, Pattern(16, 21));
    runner_->ReadMemory(Board(), "B8001000");
    runner_->CheckSekurelStatus(Board());
    s.memoryInit = {false, true, ""};
    EXPECT_TRUE(runner_->MemoryInitAlone(s, Board()));
    serial_.board->failRegisterWrite = serial_.board->Record().registerWrites + 1;
    EXPECT_FALSE(runner_->MemoryInitAlone(s, Board()));
    auto lines = view_.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Register/Memory 0xb8001000 : 0x11223344");
    EXPECT_EQ(lines[1], "Init Sekurel status from ROM: 0x78");
    EXPECT_EQ(lines[2], "Memory Init Done - ");
    EXPECT_EQ(lines[3], "Error! - SDRAM init error");
    EXPECT_EQ(view_.counts().back(), 4);
    auto frames = serial_.board->Record().frames;
    sealtest::Frame read{0x01, 0x01, 0xB8, 0x00, 0x10, 0x00, 0x20, 0, 0, 0, 0x04, 0, 0, 0, 0, 0};
    EXPECT_EQ(frames[0], read);
}

}  // namespace
}  // namespace sealbench
