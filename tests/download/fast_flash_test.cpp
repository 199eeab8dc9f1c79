// Fast serial flashing against the real vireo-sim process over its pty: the
// built-in libraries run on the board's emulated core, the link's stream talks
// to them, and the board's flash dump must hold every image. Then what goes
// wrong: a damaged byte, a board that stops, a rate the UART cannot make, a
// speed the cable cannot carry, and flash that does not keep what was written.
#include <bootwire/bootwire.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>

#include "download/plan/flash_libraries.h"
#include "download/plan/run_plan.h"
#include "download/run/fast_run.h"
#include "sim_process.h"
#include "test_images.h"

namespace sealbench {
namespace {

using namespace std::chrono_literals;
using sealtest::SimProcess;

constexpr uint32_t kBlock = 16384;
constexpr size_t kMiB = 1u << 20;
// Far longer than any run takes on a loaded machine; reaching it means a hang.
constexpr auto kRunLimit = 240s;

// What one stream did, as the run reads it.
struct StreamRun {
    bool success = false;
    std::string text;  // the run's line
    std::string verifiedLine;
    std::vector<std::string> diagnostics;
    bootwire::StreamReport report;
};

struct Board {
    const char* cpu;
    FlashType flash;
    bool paced;
    bool model = false;  // the board's native model of the library instead of its code on the emulated core
};

std::string Describe(const Board& b) {
    return std::string(b.cpu) + (b.flash == FlashType::Nand ? "_Nand" : "_Nor") + (b.paced ? "_Paced" : "_Unpaced") +
           (b.model ? "_Model" : "");
}

class FastFlash : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveBuiltinFlashLibraries()) GTEST_SKIP() << "built without the flash libraries";
        char pattern[] = "/tmp/sealbench-fast-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        link_.Detach();
        sim_.reset();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    void Start(const std::string& cpu, std::vector<std::string> extra = {}) {
        extra.push_back("--dump-flash");
        extra.push_back(dir_ + "/flash.bin");
        sim_ = std::make_unique<SimProcess>(cpu, std::move(extra));
        ASSERT_TRUE(sim_->ok()) << sim_->error();
        processor_ = *ProcessorTypeFromName(cpu);
        bootwire::Error error = bootwire::Error::Ok;
        std::string detail;
        auto transport = bootwire::OpenSerial(sim_->serial(), PresetOf(processor_).lineMode, &error, &detail);
        ASSERT_TRUE(transport) << detail;
        link_.Attach(std::move(transport));
    }

    // One run, bounded: a run that does not end within kRunLimit fails the test.
    StreamRun Flash(FlashType type, uint32_t address, const std::vector<uint8_t>& image, int baud = 921600,
                    const bootwire::StreamObserver& observer = {}) {
        StreamRun result;
        auto stream = MakeBuiltinStream(processor_, type, address, 0, image, baud);
        if (!stream) {
            ADD_FAILURE() << "no built-in library for the job";
            return result;
        }
        link_.SetStopToken(stop_.get_token());
        auto run =
            std::async(std::launch::async, [&] { return link_.StreamFlash(stream->job, observer, &result.report); });
        if (run.wait_for(kRunLimit) != std::future_status::ready) {
            ADD_FAILURE() << "the run did not end within " << kRunLimit.count() << " s";
            stop_.request_stop();
        }
        const bootwire::Error error = run.get();
        link_.SetStopToken({});
        const Outcome outcome = StreamOutcome(link_, error, result.report, baud, "--baud", image.size());
        result.success = outcome.Ok();
        result.text = outcome.message;
        if (outcome.Ok()) result.verifiedLine = outcome.detail;
        result.diagnostics = result.report.diagnostics;
        if (!outcome.Ok()) result.diagnostics.push_back(link_.ErrorDetail());
        for (const auto& line : result.diagnostics) std::printf("  diagnostic: %s\n", line.c_str());
        return result;
    }

    // The board answers its boot ROM's get-status at 115200 baud: the library has
    // handed it back and both ends of the line are at the ROM's speed again.
    void ExpectBoardInBootRom() {
        uint32_t word = 0;
        ASSERT_EQ(link_.GetStatus(&word), bootwire::Error::Ok) << link_.ErrorDetail();
        EXPECT_EQ(word, 0x3Cu);
    }

    std::vector<unsigned char> StopAndDump() {
        EXPECT_EQ(sim_->Stop(), 0);
        return sealtest::ReadFile(dir_ + "/flash.bin");
    }

    std::string dir_;
    std::unique_ptr<SimProcess> sim_;
    bootwire::Link link_;
    ProcessorType processor_ = ProcessorType::None;
    std::stop_source stop_;
};

void PrintTo(const Board& b, std::ostream* os) { *os << Describe(b); }

class FastFlashRuns : public FastFlash, public ::testing::WithParamInterface<Board> {};

// Every size that matters for the blocks (one byte, one block, one block and a
// byte, a mebibyte) of code and of noise, one after the other on one board, each
// in its own 2 MiB of flash; then the dump must hold them all.
TEST_P(FastFlashRuns, EveryImageLandsInFlashAndIsVerified) {
    const Board board = GetParam();
    std::vector<std::string> extra;
    if (board.paced) extra.push_back("--pace");
    if (board.model) extra.insert(extra.end(), {"--flashlib", "model"});
    Start(board.cpu, extra);
    const bool nand = board.flash == FlashType::Nand;
    const uint32_t base = nand ? 0 : PresetOf(processor_).norFlashStart;

    struct Placed {
        uint32_t offset;
        std::vector<uint8_t> image;
    };
    std::vector<Placed> placed;
    const std::vector<size_t> sizes = {1, kBlock, kBlock + 1, kMiB};
    uint32_t offset = 2 * kMiB;  // NAND: clear of the factory bad block 64
    for (bool code : {true, false}) {
        for (size_t size : sizes) {
            // Paced, the line is real time: one mebibyte of each kind is plenty.
            if (board.paced && size == kBlock) continue;
            std::vector<uint8_t> image = code ? sealtest::ArmCodeImage(size) : sealtest::NoiseImage(size, offset);
            ASSERT_EQ(image.size(), size) << "no ARM code for the test image";
            placed.push_back({offset, std::move(image)});
            offset += 2 * kMiB;
        }
    }
    for (const Placed& p : placed) {
        SCOPED_TRACE("image of " + std::to_string(p.image.size()) + " bytes at offset " + std::to_string(p.offset));
        std::vector<bootwire::StreamProgress> seen;
        const StreamRun result = Flash(board.flash, base + p.offset, p.image, 921600,
                                       [&](const bootwire::StreamProgress& s) { seen.push_back(s); });
        ASSERT_TRUE(result.success) << result.text;
        EXPECT_EQ(result.text, "Flashing Completed\n");
        EXPECT_NE(result.verifiedLine.find("Image verified"), std::string::npos) << result.verifiedLine;
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().stage, bootwire::StreamStage::Finished);
        EXPECT_EQ(seen.back().bytesProgrammed, p.image.size());
        EXPECT_EQ(seen.back().baud, 115200) << "the line ends at the boot ROM's speed";
        EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const bootwire::StreamProgress& s) {
            return (s.stage == bootwire::StreamStage::Programming || s.stage == bootwire::StreamStage::Erasing) &&
                   s.baud == 921600;
        })) << "the image went at the fast rate";
        EXPECT_GT(seen.back().loadBytes, 0u);
        // Only the library crossed the slow line, not the image.
        EXPECT_LT(seen.back().loadBytes, 0xC000u);
        ExpectBoardInBootRom();
    }
    const std::vector<unsigned char> flash = StopAndDump();
    for (const Placed& p : placed) {
        ASSERT_GE(flash.size(), p.offset + p.image.size());
        EXPECT_TRUE(std::equal(p.image.begin(), p.image.end(), flash.begin() + p.offset))
            << "image of " << p.image.size() << " bytes at offset " << p.offset;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, FastFlashRuns,
    ::testing::Values(Board{"VireoC_TO2", FlashType::Nor, false}, Board{"VireoC_TO2", FlashType::Nand, false},
                      Board{"VireoB", FlashType::Nor, false}, Board{"VireoC_TO2", FlashType::Nor, true},
                      Board{"VireoC_TO2", FlashType::Nand, true}, Board{"VireoB", FlashType::Nor, true},
                      Board{"VireoC_TO2", FlashType::Nand, false, true}),
    [](const ::testing::TestParamInfo<Board>& param) { return Describe(param.param); });

TEST_F(FastFlash, DamagedBytesOnTheLineAreSentAgain) {
    // Host byte 60000 falls in the stream's first blocks; board byte 600 in an
    // answer to a block, which the host then does not recognise.
    Start("VireoC_TO2", {"--fault", "corrupt:60000", "--fault", "corrupt-answer:600"});
    const std::vector<uint8_t> image = sealtest::NoiseImage(kMiB, 7);
    const uint32_t address = PresetOf(processor_).norFlashStart;
    const StreamRun result = Flash(FlashType::Nor, address, image);
    ASSERT_TRUE(result.success) << result.text;
    EXPECT_GE(result.report.retransmissions, 2u);
    EXPECT_TRUE(sim_->WaitForStderr("fault: host byte 60000 corrupted"));
    EXPECT_TRUE(sim_->WaitForStderr("fault: board byte 600 corrupted"));
    ExpectBoardInBootRom();
    const auto flash = StopAndDump();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(FastFlash, ABoardThatStopsMidStreamEndsTheRun) {
    Start("VireoC_TO2", {"--fault", "silent-after:150000"});
    const StreamRun result = Flash(FlashType::Nor, PresetOf(processor_).norFlashStart, sealtest::NoiseImage(kMiB, 3));
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.text, "The board stopped taking data on the serial line");
}

TEST_F(FastFlash, RatesTheUartCannotMakeAreRefusedBeforeAnythingIsSent) {
    for (int baud : {921600, 460800, 230400, 115200}) EXPECT_EQ(CheckFastBaud(baud), std::nullopt) << baud;
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char name[128];
    ASSERT_EQ(ttyname_r(slave, name, sizeof name), 0);
    bootwire::Error error = bootwire::Error::Ok;
    std::string detail;
    auto transport = bootwire::OpenSerial(name, 1, &error, &detail);
    ASSERT_TRUE(transport) << detail;
    link_.Attach(std::move(transport));
    processor_ = ProcessorType::VireoC_TO2;
    const std::vector<uint8_t> image(100, 0x5A);
    RunSettings settings;
    settings.processor = processor_;
    settings.operation = OperationType::Flashing;
    settings.imagePath = dir_ + "/image.bin";
    {
        std::FILE* file = std::fopen(settings.imagePath.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(image.data(), 1, image.size(), file);
        std::fclose(file);
    }
    settings.fastSerial = true;
    for (int baud : {1000000, 2000000, 131657, 57600, 0}) {
        // The plan refuses the rate, and so does the link itself.
        settings.fastBaud = baud;
        const PlannedRun planned = PlanRun(settings, RunChannel{true, false, name});
        EXPECT_FALSE(planned.Ok()) << baud;
        EXPECT_EQ(planned.refusal.message, CheckFastBaud(baud).value_or("accepted")) << baud;
        EXPECT_EQ(Flash(FlashType::Nor, 0xA0000000, image, baud).success, false) << baud;
    }
    // Nor a flash type without a built-in library, nor VireoB's NAND.
    settings.fastBaud = 921600;
    settings.flashType = FlashType::UserInput;
    EXPECT_NE(RefuseFastSerial(settings, false).value_or("").find("built-in flash library"), std::string::npos);
    settings.flashType = FlashType::Nand;
    settings.processor = ProcessorType::VireoB;
    EXPECT_EQ(PlanRun(settings, RunChannel{true, false, name}).refusal.message, "VireoB not support NAND flash yet!\n");
    char byte;
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    EXPECT_EQ(::read(master, &byte, 1), -1) << "a byte reached the line";
    EXPECT_EQ(errno, EAGAIN);
    link_.Detach();
    ::close(slave);
    ::close(master);
}

TEST_F(FastFlash, ASpeedTheCableCannotCarryEndsAt115200) {
    Start("VireoC_TO2", {"--fault", "line-limit:460800"});
    const std::vector<uint8_t> image = sealtest::ArmCodeImage(100000);
    const uint32_t address = PresetOf(processor_).norFlashStart;
    StreamRun result = Flash(FlashType::Nor, address, image, 921600);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.text,
              "The board did not answer at 921600 baud; both sides are back at 115200 baud. Try a lower --baud "
              "(460800 or 230400)");
    ExpectBoardInBootRom();
    // The same board at the rate the error suggests.
    result = Flash(FlashType::Nor, address, image, 460800);
    ASSERT_TRUE(result.success) << result.text;
    const auto flash = StopAndDump();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(FastFlash, StopEndsTheRunAndHandsTheBoardBack) {
    Start("VireoC_TO2");
    const StreamRun result = Flash(FlashType::Nor, PresetOf(processor_).norFlashStart, sealtest::NoiseImage(kMiB, 5),
                                   921600, [this](const bootwire::StreamProgress& p) {
                                       if (p.imageBytesSent > 0) stop_.request_stop();
                                   });
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.text, "Flashing stopped; the flash holds part of the image");
    ExpectBoardInBootRom();
}

TEST_F(FastFlash, NandImagesSkipBadBlocks) {
    Start("VireoC_TO2");
    // From block 63 into 65: the factory bad block 64 is skipped.
    const std::vector<uint8_t> image = sealtest::ArmCodeImage(2 * kBlock);
    const StreamRun result = Flash(FlashType::Nand, 63 * kBlock, image);
    ASSERT_TRUE(result.success) << result.text;
    const auto flash = StopAndDump();
    ASSERT_GE(flash.size(), 66u * kBlock);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + kBlock, flash.begin() + 63 * kBlock));
    EXPECT_TRUE(std::equal(image.begin() + kBlock, image.end(), flash.begin() + 65 * kBlock));
}

struct Failure {
    const char* name;
    std::string fault;  // vireo-sim --fault, or empty
    uint32_t offset;    // into the NOR flash
    size_t size;
    std::string text;    // the run's line
    std::string detail;  // in a diagnostic
};

void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

class FastFlashFailures : public FastFlash, public ::testing::WithParamInterface<Failure> {};

TEST_P(FastFlashFailures, EndWithTheLibrarysReasonAndTheBoardBackInItsBootRom) {
    const Failure& f = GetParam();
    std::vector<std::string> extra;
    if (!f.fault.empty()) extra = {"--fault", f.fault};
    Start("VireoC_TO2", extra);
    const StreamRun result =
        Flash(FlashType::Nor, PresetOf(processor_).norFlashStart + f.offset, sealtest::NoiseImage(f.size, 11));
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.text, f.text);
    EXPECT_TRUE(std::any_of(result.diagnostics.begin(), result.diagnostics.end(),
                            [&](const std::string& d) { return d.find(f.detail) != std::string::npos; }))
        << "no diagnostic with \"" << f.detail << "\"";
    ExpectBoardInBootRom();
}

INSTANTIATE_TEST_SUITE_P(Flash, FastFlashFailures,
                         ::testing::Values(Failure{"EraseStuck", "erase-stuck:A0008000", 0, 3 * kBlock,
                                                   "Flashing Erase Error\n", "did not take the data"},
                                           Failure{"ProgramStuck", "program-stuck:A0001000", 0, 3 * kBlock,
                                                   "Flashing Program Error\n", "did not take the data"},
                                           Failure{"BitFlipSeenByTheDigest", "bit-flip:A0008000:3", 0, 3 * kBlock,
                                                   "Flashing Verifying Error\n", "the flash holds CRC-32"},
                                           Failure{"PastTheEndOfTheDevice", "", 0x1FF8000, 3 * kBlock,
                                                   "Flashing Erase Error\n", "does not fit"}),
                         [](const ::testing::TestParamInfo<Failure>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace sealbench
