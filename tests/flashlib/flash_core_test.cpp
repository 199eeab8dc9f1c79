// The flash library's core, compiled for the host, against the flash models:
// what it erases, programs and keeps, how it walks NAND blocks, and the state
// codes it reports.
#include <gtest/gtest.h>

#include <algorithm>

#include "programs/programs.h"
#include "sim/board_harness.h"

namespace vsim::test {
namespace {

using flashlib::BuiltinFlashLibrary;
using flashlib::BuiltinLibrary;

constexpr uint32_t kBlock = NandFlash::kBlockData;

// One native flashing run on a board; the final state code.
uint32_t FlashNative(Board& board, BuiltinLibrary library, uint32_t flashAddress, const std::vector<uint8_t>& image,
                     uint32_t partitionEnd = 0, Channel channel = Channel::Serial) {
    board.LoadLibrary(BuiltinFlashLibrary(library));
    board.LoadJob(flashAddress, image, channel, partitionEnd);
    board.Start(MakeNativeProgramFactory());
    const auto states = board.PollToEnd(channel);
    EXPECT_EQ(board.WaitEnded(), std::optional<bool>(true)) << "the library hands the board back";
    return states.empty() ? 0 : states.back();
}

std::vector<uint8_t> Filled(size_t size, uint8_t value) { return std::vector<uint8_t>(size, value); }

class NorCore : public ::testing::Test {
protected:
    NorCore() : board_(Cpu::VireoC_TO1) {}

    void Preload(uint32_t offset, const std::vector<uint8_t>& data) {
        board_.Flash().Nor().Preload(offset, data.data(), data.size());
    }
    uint32_t Flash(uint32_t offset, const std::vector<uint8_t>& image, uint32_t partitionEnd = 0) {
        return FlashNative(board_, BuiltinLibrary::NorVireoC, board_.Map().norBase + offset, image, partitionEnd);
    }
    std::vector<uint8_t> Nor(uint32_t offset, size_t size) { return board_.Nor(offset, size); }

    Board board_;
};

TEST_F(NorCore, ImageOnSectorBoundariesLeavesNeighbourSectorsAlone) {
    Preload(0, Filled(0x60000, 0x5A));
    const auto image = RandomImage(0x20000);
    ASSERT_EQ(Flash(0x20000, image), kStateDone);
    EXPECT_EQ(Nor(0x20000, 0x20000), image);
    EXPECT_EQ(Nor(0, 0x20000), Filled(0x20000, 0x5A));
    EXPECT_EQ(Nor(0x40000, 0x20000), Filled(0x20000, 0x5A));
}

TEST_F(NorCore, ErasedWordsOfTheImageStillReplaceOldData) {
    Preload(0, Filled(0x20000, 0x00));
    auto image = RandomImage(0x8000);
    std::fill(image.begin() + 0x100, image.begin() + 0x200, 0xFF);
    ASSERT_EQ(Flash(0, image), kStateDone);
    EXPECT_EQ(Nor(0, image.size()), image);
    EXPECT_EQ(Nor(0x8000, 0x18000), Filled(0x18000, 0x00)) << "only the first small sector was erased";
}

TEST_F(NorCore, PartlyCoveredSectorsKeepTheirOtherBytes) {
    Preload(0, Filled(0x60000, 0x5A));
    // Odd size, starting inside a small sector and ending inside a large one.
    const auto image = RandomImage(0x12345, 3);
    ASSERT_EQ(Flash(0x18102, image), kStateDone);
    EXPECT_EQ(Nor(0x18102, image.size()), image);
    EXPECT_EQ(Nor(0, 0x18102), Filled(0x18102, 0x5A));
    const uint32_t end = 0x18102 + 0x12345;
    EXPECT_EQ(Nor(end, 0x60000 - end), Filled(0x60000 - end, 0x5A));
}

TEST_F(NorCore, ImageUpToTheLastByteOfTheDevice) {
    const auto image = RandomImage(0x28000, 5);
    ASSERT_EQ(Flash(NorFlash::kSize - 0x28000, image), kStateDone);
    EXPECT_EQ(Nor(NorFlash::kSize - 0x28000, image.size()), image);
}

TEST(NorJobs, OutsideTheDeviceOrPartitionAreEraseErrorsThatTouchNothing) {
    const auto image = RandomImage(0x1000);
    const uint32_t base = MapOf(Cpu::VireoC_TO2).norBase;
    struct Case {
        uint32_t address;
        uint32_t partitionEnd;
        const char* why;
    };
    for (const Case& c :
         {Case{base + NorFlash::kSize - 0x800, 0, "runs past the end"},
          Case{base + 0x101, 0, "odd address on a x16 part"}, Case{base - 0x1000, 0, "below the device"},
          Case{base, base + 0xFFE, "one byte over the partition"},
          Case{base + 0x2000, base + 0x1000, "partition ends before it starts"}}) {
        Board board(Cpu::VireoC_TO2);
        EXPECT_EQ(FlashNative(board, BuiltinLibrary::NorVireoC, c.address, image, c.partitionEnd), kStateEraseError)
            << c.why;
        EXPECT_EQ(board.Flash().Nor().Writes(), 0u) << c.why;
    }
    Board fits(Cpu::VireoC_TO2);
    EXPECT_EQ(FlashNative(fits, BuiltinLibrary::NorVireoC, base, image, base + 0xFFF), kStateDone);
}

TEST_F(NorCore, EmptyImageIsDoneAtOnce) {
    EXPECT_EQ(Flash(0, {}), kStateDone);
    EXPECT_EQ(board_.Flash().Nor().Writes(), 0u);
}

// Every answer until the final one, as the host polls during a job.
std::vector<uint32_t> FlashNativeWords(Board& board, BuiltinLibrary library, uint32_t flashAddress,
                                       const std::vector<uint8_t>& image) {
    board.LoadLibrary(BuiltinFlashLibrary(library));
    board.LoadJob(flashAddress, image, Channel::Serial, 0);
    board.Start(MakeNativeProgramFactory());
    std::vector<uint32_t> words;
    while (auto word = board.QueryWord(Channel::Serial)) {
        words.push_back(*word);
        if ((*word >> 16) >= kStateEraseError) break;
    }
    EXPECT_EQ(board.WaitEnded(), std::optional<bool>(true));
    return words;
}

// The low half of a stage's answers counts KiB of the image done in it: it never
// goes back within a stage, never passes the image, and the final code carries 0.
void ExpectProgressInWords(const std::vector<uint32_t>& words, size_t imageSize) {
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words.back(), kStateDone << 16);
    uint32_t state = 0;
    uint32_t last = 0;
    bool moving = false;
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        const uint32_t code = words[i] >> 16;
        const uint32_t kib = words[i] & 0xFFFF;
        if (code != state) {
            EXPECT_GT(code, state) << "stages go erase, program, verify";
            state = code;
            last = 0;
        }
        EXPECT_GE(kib, last) << std::hex << words[i];
        EXPECT_LE(kib, imageSize / 1024) << std::hex << words[i];
        moving = moving || (kib > 0);
        last = kib;
    }
    EXPECT_TRUE(moving) << "no answer told any progress";
}

TEST(CoreProgress, NorStagesCountTheImagesKibInTheLowHalf) {
    Board board(Cpu::VireoC_TO1);
    const auto image = RandomImage(0x100000 + 0x2345, 4);
    const auto words = FlashNativeWords(board, BuiltinLibrary::NorVireoC, board.Map().norBase + 0x10000, image);
    ExpectProgressInWords(words, image.size());
    EXPECT_EQ(board.Nor(0x10000, image.size()), image);
}

TEST(CoreProgress, NandStagesCountTheImagesKibInTheLowHalf) {
    Board board(Cpu::VireoC_TO2);
    const auto image = RandomImage(40 * kBlock + 300, 6);
    ExpectProgressInWords(FlashNativeWords(board, BuiltinLibrary::NandVireoC, 0, image), image.size());
}

TEST(NandCore, SkipsFactoryBadBlocksAndKeepsTheirMarks) {
    Board board(Cpu::VireoC_TO2);
    const auto image = RandomImage(3 * kBlock - 100, 9);
    ASSERT_EQ(FlashNative(board, BuiltinLibrary::NandVireoC, 63 * kBlock, image), kStateDone);
    // Blocks 63, 65, 66: block 64 carries a factory mark.
    std::vector<uint8_t> written = board.Nand(63 * kBlock, kBlock);
    const auto second = board.Nand(65 * kBlock, 2 * kBlock);
    written.insert(written.end(), second.begin(), second.end());
    written.resize(image.size());
    EXPECT_EQ(written, image);
    EXPECT_EQ(board.Nand(65 * kBlock + 2 * kBlock - 100, 100), Filled(100, 0xFF)) << "the last page is padded";
    EXPECT_NE(board.Flash().Nand()->PeekSpare(64 * 32, NandFlash::kBadBlockMarker), 0xFF);
    EXPECT_EQ(board.Nand(64 * kBlock, kBlock), Filled(kBlock, 0xFF));
    EXPECT_EQ(board.Flash().Dump().size(), NandFlash::kSize);
}

TEST(NandCore, PartitionTooSmallForTheGoodBlocksIsAnEraseError) {
    // Blocks 63 to 65 hold only two good blocks.
    Board board(Cpu::VireoC_TO2);
    EXPECT_EQ(FlashNative(board, BuiltinLibrary::NandVireoC, 63 * kBlock, RandomImage(3 * kBlock), 66 * kBlock - 1),
              kStateEraseError);
    Board wider(Cpu::VireoC_TO2);
    EXPECT_EQ(FlashNative(wider, BuiltinLibrary::NandVireoC, 63 * kBlock, RandomImage(3 * kBlock), 67 * kBlock - 1),
              kStateDone);
    // A partition that ends inside a block cannot use that block.
    Board partial(Cpu::VireoC_TO2);
    EXPECT_EQ(FlashNative(partial, BuiltinLibrary::NandVireoC, 0, RandomImage(2 * kBlock), 2 * kBlock - 2),
              kStateEraseError);
}

TEST(NandCore, PartitionEndZeroRunsToTheEndOfTheDevice) {
    // Blocks 8189 and 8190 are good, 8191 is a factory bad block.
    Board fits(Cpu::VireoC_TO2);
    EXPECT_EQ(FlashNative(fits, BuiltinLibrary::NandVireoC, 8189 * kBlock, RandomImage(2 * kBlock)), kStateDone);
    Board short_(Cpu::VireoC_TO2);
    EXPECT_EQ(FlashNative(short_, BuiltinLibrary::NandVireoC, 8189 * kBlock, RandomImage(2 * kBlock + 1)),
              kStateEraseError);
}

TEST(NandCore, UnalignedOrOutOfDeviceOffsetsAreRefused) {
    Board board(Cpu::VireoC_TO2);
    EXPECT_EQ(FlashNative(board, BuiltinLibrary::NandVireoC, 0x200, RandomImage(512)), kStateEraseError);
    Board beyond(Cpu::VireoC_TO2);
    EXPECT_EQ(FlashNative(beyond, BuiltinLibrary::NandVireoC, NandFlash::kSize, RandomImage(512)), kStateEraseError);
    EXPECT_EQ(board.Flash().Nand()->Writes() + beyond.Flash().Nand()->Writes(), 0u);
}

struct FaultCase {
    const char* name;
    Cpu cpu;
    BuiltinLibrary library;
    bool nand;
    const char* fault;
    uint32_t expected;
};

class FlashFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FlashFaults, SurfaceAsTheirStateCode) {
    const FaultCase& c = GetParam();
    Board board(c.cpu);
    std::string error;
    std::string fault = c.fault;
    if (!c.nand) {
        // Fault addresses are given as offsets here and placed into the NOR window.
        const size_t colon = fault.find(':');
        const size_t end = fault.find(':', colon + 1);
        const uint32_t offset = std::stoul(fault.substr(colon + 1, end - colon - 1), nullptr, 16);
        char text[16];
        std::snprintf(text, sizeof text, "%08X", board.Map().norBase + offset);
        fault = fault.substr(0, colon + 1) + text + (end == std::string::npos ? "" : fault.substr(end));
    }
    ASSERT_TRUE(board.Flash().AddFault(fault, &error)) << error;
    const uint32_t address = c.nand ? 0 : board.Map().norBase;
    EXPECT_EQ(FlashNative(board, c.library, address, RandomImage(0x30000)), c.expected) << fault;
}

INSTANTIATE_TEST_SUITE_P(NorAndNand, FlashFaults,
                         ::testing::Values(FaultCase{"NorEraseStuck", Cpu::VireoC_TO2, BuiltinLibrary::NorVireoC, false,
                                                     "erase-stuck:28000", kStateEraseError},
                                           FaultCase{"NorProgramStuck", Cpu::VireoB, BuiltinLibrary::NorVireoB, false,
                                                     "program-stuck:2F00E", kStateProgramError},
                                           FaultCase{"NorBitFlip", Cpu::VireoB, BuiltinLibrary::NorVireoB, false,
                                                     "bit-flip:12345:7", kStateVerifyError},
                                           FaultCase{"NandEraseStuck", Cpu::VireoC_TO1, BuiltinLibrary::NandVireoC,
                                                     true, "erase-stuck:0x8000", kStateEraseError},
                                           FaultCase{"NandProgramStuck", Cpu::VireoC_TO1, BuiltinLibrary::NandVireoC,
                                                     true, "program-stuck:0x2FE00", kStateProgramError},
                                           FaultCase{"NandBitFlip", Cpu::VireoC_TO1, BuiltinLibrary::NandVireoC, true,
                                                     "bit-flip:0x1FFFF:0", kStateVerifyError}),
                         [](const ::testing::TestParamInfo<FaultCase>& param) { return param.param.name; });

TEST(StatusQueries, AreAnsweredWhileTheFlashIsBusy) {
    Board board(Cpu::VireoC_TO2);
    board.Flash().HoldBusy(true);
    board.LoadLibrary(BuiltinFlashLibrary(BuiltinLibrary::NorVireoC));
    const auto image = RandomImage(0x1000);
    board.LoadJob(board.Map().norBase, image, Channel::Usb);
    board.Start(MakeNativeProgramFactory());
    EXPECT_EQ(board.Query(Channel::Usb), std::optional<uint32_t>(kStateErasing));
    EXPECT_EQ(board.Query(Channel::Usb), std::optional<uint32_t>(kStateErasing));
    board.Flash().HoldBusy(false);
    const auto states = board.PollToEnd(Channel::Usb);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), kStateDone);
    EXPECT_TRUE(std::is_sorted(states.begin(), states.end())) << "states only move forward";
    EXPECT_EQ(board.ReceivedBytes(Channel::Serial), 0u) << "answers go only to the channel named at 0xFFFC";
    EXPECT_EQ(board.Nor(0, image.size()), image);
}

TEST(StatusQueries, NoiseBeforeAQueryIsSkipped) {
    Board board(Cpu::VireoC_TO2);
    board.Flash().HoldBusy(true);
    board.LoadLibrary(BuiltinFlashLibrary(BuiltinLibrary::NorVireoC));
    board.LoadJob(board.Map().norBase, RandomImage(0x100), Channel::Serial);
    board.Start(MakeNativeProgramFactory());
    const uint8_t noise[] = {0x94, 0x93, 0x00, 0x11, 0x94, 0x00};
    board.Running().HostBytes(Channel::Serial, noise, sizeof noise);
    EXPECT_EQ(board.Query(Channel::Serial), std::optional<uint32_t>(kStateErasing));
    EXPECT_EQ(board.ReceivedBytes(Channel::Serial), 4u);
    board.Flash().HoldBusy(false);
    EXPECT_EQ(board.PollToEnd(Channel::Serial).back(), kStateDone);
}

TEST(StatusQueries, StopEndsABusyProgramWithoutEndingTheBoard) {
    Board board(Cpu::VireoC_TO2);
    board.Flash().HoldBusy(true);
    board.LoadLibrary(BuiltinFlashLibrary(BuiltinLibrary::NorVireoC));
    board.LoadJob(board.Map().norBase, RandomImage(0x100), Channel::Serial);
    board.Start(MakeNativeProgramFactory());
    ASSERT_EQ(board.Query(Channel::Serial), std::optional<uint32_t>(kStateErasing));
    board.StopProgram();
    EXPECT_EQ(board.WaitEnded(std::chrono::milliseconds(0)), std::nullopt)
        << "a stopped program does not end by itself";
}

}  // namespace
}  // namespace vsim::test
