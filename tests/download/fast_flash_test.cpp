// Fast serial flashing against the real vireo-sim process over its pty: the
// built-in libraries run on the board's emulated core, the host's module talks
// to them, and the board's flash dump must hold every image. Then what goes
// wrong: a damaged byte, a board that stops, a rate the UART cannot make, a
// speed the cable cannot carry, and flash that does not keep what was written.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>

#include "download/fast_flash.h"
#include "download/flash_libraries.h"
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

struct Board {
    const char* cpu;
    FlashType flash;
    bool paced;
};

std::string Describe(const Board& b) {
    return std::string(b.cpu) + (b.flash == FlashType::Nand ? "_Nand" : "_Nor") + (b.paced ? "_Paced" : "_Unpaced");
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
    FastFlashResult Flash(FlashType type, uint32_t address, const std::vector<uint8_t>& image, int baud = 921600,
                          const FastProgressObserver& observer = {}) {
        FastFlashJob job;
        job.processor = processor_;
        job.flashType = type;
        job.flashAddress = address;
        job.image = image;
        job.baud = baud;
        auto run = std::async(std::launch::async, [&] { return RunFastFlash(link_, job, observer, stop_); });
        if (run.wait_for(kRunLimit) != std::future_status::ready) {
            ADD_FAILURE() << "the run did not end within " << kRunLimit.count() << " s";
            stop_ = true;
        }
        FastFlashResult result = run.get();
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
    std::atomic<bool> stop_{false};
};

class FastFlashRuns : public FastFlash, public ::testing::WithParamInterface<Board> {};

// Every size that matters for the blocks (one byte, one block, one block and a
// byte, a mebibyte) of code and of noise, one after the other on one board, each
// in its own 2 MiB of flash; then the dump must hold them all.
TEST_P(FastFlashRuns, EveryImageLandsInFlashAndIsVerified) {
    const Board board = GetParam();
    std::vector<std::string> extra;
    if (board.paced) extra.push_back("--pace");
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
        std::vector<FastProgress> seen;
        const FastFlashResult result =
            Flash(board.flash, base + p.offset, p.image, 921600, [&](const FastProgress& s) { seen.push_back(s); });
        ASSERT_TRUE(result.success) << result.text;
        EXPECT_EQ(result.text, "Flashing Completed\n");
        EXPECT_NE(result.verifiedLine.find("Image verified"), std::string::npos) << result.verifiedLine;
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().phase, FastPhase::Finished);
        EXPECT_EQ(seen.back().bytesWritten, p.image.size());
        EXPECT_EQ(seen.back().baud, 115200) << "the line ends at the boot ROM's speed";
        EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const FastProgress& s) {
            return s.phase == FastPhase::Programming && s.baud == 921600;
        })) << "the image went at the fast rate";
        EXPECT_GT(seen.back().libraryBytes, 0u);
        // Only the library crossed the slow line, not the image.
        EXPECT_LT(seen.back().libraryBytes, 0xC000u);
        ExpectBoardInBootRom();
    }
    const std::vector<unsigned char> flash = StopAndDump();
    for (const Placed& p : placed) {
        ASSERT_GE(flash.size(), p.offset + p.image.size());
        EXPECT_TRUE(std::equal(p.image.begin(), p.image.end(), flash.begin() + p.offset))
            << "image of " << p.image.size() << " bytes at offset " << p.offset;
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, FastFlashRuns,
                         ::testing::Values(Board{"VireoC_TO2", FlashType::Nor, false},
                                           Board{"VireoC_TO2", FlashType::Nand, false},
                                           Board{"VireoB", FlashType::Nor, false},
                                           Board{"VireoC_TO2", FlashType::Nor, true},
                                           Board{"VireoC_TO2", FlashType::Nand, true},
                                           Board{"VireoB", FlashType::Nor, true}),
                         [](const ::testing::TestParamInfo<Board>& param) { return Describe(param.param); });

}  // namespace
}  // namespace sealbench
