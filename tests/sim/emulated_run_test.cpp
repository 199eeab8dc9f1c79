// The built-in flash libraries' real ARM code, and programs of our own making,
// running on the emulated core of the virtual board.
#include <gtest/gtest.h>

#include <array>

#include "board_harness.h"
#include "programs/programs.h"

namespace vsim::test {
namespace {

using flashlib::BuiltinFlashLibrary;
using flashlib::BuiltinLibrary;

struct LibraryCase {
    const char* name;
    Cpu cpu;
    BuiltinLibrary library;
    bool nand;
    Channel channel;
};

class EmulatedLibrary : public ::testing::TestWithParam<LibraryCase> {};

TEST_P(EmulatedLibrary, WritesTheImageAndHandsTheBoardBack) {
    const LibraryCase& c = GetParam();
    Board board(c.cpu);
    const auto image = RandomImage(0x9001, 11);
    board.LoadLibrary(BuiltinFlashLibrary(c.library));
    board.LoadJob(c.nand ? 0 : board.Map().norBase, image, c.channel);
    board.Start(MakeEmulatedProgramFactory());
    const auto states = board.PollToEnd(c.channel);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), kStateDone);
    EXPECT_TRUE(std::is_sorted(states.begin(), states.end()));
    EXPECT_EQ(board.WaitEnded(), std::optional<bool>(true));
    const auto dump = board.Flash().Dump();
    EXPECT_EQ(dump.size(), c.nand ? NandFlash::kSize : NorFlash::kSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), dump.begin())) << "the dump starts with the image";
    const Channel other = c.channel == Channel::Usb ? Channel::Serial : Channel::Usb;
    EXPECT_EQ(board.ReceivedBytes(other), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Builtin, EmulatedLibrary,
    ::testing::Values(
        LibraryCase{"NorVireoCSerial", Cpu::VireoC_TO1, BuiltinLibrary::NorVireoC, false, Channel::Serial},
        LibraryCase{"NorVireoCUsb", Cpu::VireoC_TO2, BuiltinLibrary::NorVireoC, false, Channel::Usb},
        LibraryCase{"NorVireoBSerial", Cpu::VireoB, BuiltinLibrary::NorVireoB, false, Channel::Serial},
        LibraryCase{"NorVireoBUsb", Cpu::VireoB, BuiltinLibrary::NorVireoB, false, Channel::Usb},
        LibraryCase{"NandVireoCSerial", Cpu::VireoC_TO2, BuiltinLibrary::NandVireoC, true, Channel::Serial},
        LibraryCase{"NandVireoCUsb", Cpu::VireoC_TO1, BuiltinLibrary::NandVireoC, true, Channel::Usb}),
    [](const ::testing::TestParamInfo<LibraryCase>& param) { return param.param.name; });

TEST(EmulatedLibrary, FlashFaultsGiveTheirCodes) {
    struct Case {
        BuiltinLibrary library;
        Cpu cpu;
        const char* fault;
        uint32_t flashAddress;
        uint32_t expected;
    };
    for (const Case& c :
         {Case{BuiltinLibrary::NorVireoB, Cpu::VireoB, "erase-stuck:C0000000", 0xC0000000, kStateEraseError},
          Case{BuiltinLibrary::NorVireoC, Cpu::VireoC_TO2, "program-stuck:A0000F00", 0xA0000000, kStateProgramError},
          Case{BuiltinLibrary::NorVireoC, Cpu::VireoC_TO2, "bit-flip:A0001FFF:7", 0xA0000000, kStateVerifyError},
          Case{BuiltinLibrary::NandVireoC, Cpu::VireoC_TO2, "erase-stuck:0", 0, kStateEraseError},
          Case{BuiltinLibrary::NandVireoC, Cpu::VireoC_TO2, "program-stuck:400", 0, kStateProgramError},
          Case{BuiltinLibrary::NandVireoC, Cpu::VireoC_TO2, "bit-flip:1000:2", 0, kStateVerifyError}}) {
        Board board(c.cpu);
        std::string error;
        ASSERT_TRUE(board.Flash().AddFault(c.fault, &error)) << error;
        board.LoadLibrary(BuiltinFlashLibrary(c.library));
        board.LoadJob(c.flashAddress, RandomImage(0x2000), Channel::Serial);
        board.Start(MakeEmulatedProgramFactory());
        const auto states = board.PollToEnd(Channel::Serial);
        ASSERT_FALSE(states.empty()) << c.fault;
        EXPECT_EQ(states.back(), c.expected) << c.fault;
        EXPECT_EQ(board.WaitEnded(), std::optional<bool>(true)) << "the error is reported, then the ROM takes over";
    }
}

TEST(EmulatedLibrary, AnswersWhileTheFlashIsBusy) {
    Board board(Cpu::VireoC_TO2);
    board.Flash().HoldBusy(true);
    board.LoadLibrary(BuiltinFlashLibrary(BuiltinLibrary::NandVireoC));
    const auto image = RandomImage(0x800);
    board.LoadJob(0, image, Channel::Usb);
    board.Start(MakeEmulatedProgramFactory());
    EXPECT_EQ(board.Query(Channel::Usb), std::optional<uint32_t>(kStateErasing));
    EXPECT_EQ(board.Query(Channel::Usb), std::optional<uint32_t>(kStateErasing));
    board.Flash().HoldBusy(false);
    EXPECT_EQ(board.PollToEnd(Channel::Usb).back(), kStateDone);
    EXPECT_EQ(board.Nand(0, image.size()), image);
}

TEST(BuiltinImages, StartAtTheEntryAndStayClearOfTheParameterBlock) {
    for (BuiltinLibrary which : {BuiltinLibrary::NorVireoC, BuiltinLibrary::NorVireoB, BuiltinLibrary::NandVireoC}) {
        const auto image = BuiltinFlashLibrary(which);
        ASSERT_GT(image.size(), flashlib::kCodeOffset + 64);
        EXPECT_LE(image.size(), flashlib::kParameterBlockOffset);
        EXPECT_TRUE(std::all_of(image.begin(), image.begin() + flashlib::kCodeOffset, [](uint8_t b) { return b == 0; }))
            << "no HWC or CSF in a built-in library";
        uint32_t first;
        std::memcpy(&first, image.data() + flashlib::kCodeOffset, 4);
        EXPECT_EQ(first & 0xFFFFF000u, 0xE59FD000u) << "the entry sets up the stack (ldr sp, [pc, #...])";
    }
    EXPECT_FALSE(std::equal(
        BuiltinFlashLibrary(BuiltinLibrary::NorVireoC).begin(), BuiltinFlashLibrary(BuiltinLibrary::NorVireoC).end(),
        BuiltinFlashLibrary(BuiltinLibrary::NorVireoB).begin(), BuiltinFlashLibrary(BuiltinLibrary::NorVireoB).end()))
        << "each board's library carries its own addresses";
}

// A user's program: runs as loaded, so these are hand-assembled ARM words.
constexpr uint32_t kLoopForever = 0xEAFFFFFE;  // b .

TEST(UserPrograms, UndefinedInstructionIsAReportedCrash) {
    Board board(Cpu::VireoC_TO2);
    const std::array<uint32_t, 2> code = {0xE1A00000, 0xE7F000F0};  // nop; udf
    board.LoadCode(code);
    testing::internal::CaptureStderr();
    board.Start(MakeEmulatedProgramFactory());
    const auto ended = board.WaitEnded();
    board.StopProgram();
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ended, std::optional<bool>(false));
    EXPECT_NE(message.find("crashed at 0x8000400"), std::string::npos) << message;
    EXPECT_NE(message.find("undefined instruction"), std::string::npos) << message;
    EXPECT_EQ(board.Query(Channel::Serial, std::chrono::milliseconds(200)), std::nullopt)
        << "a crashed board is silent";
}

TEST(UserPrograms, AccessOutsideTheMapIsAReportedCrash) {
    Board board(Cpu::VireoB);
    // ldr r0, [pc, #4]; ldr r1, [r0]; b .; .word 0x12345678
    const std::array<uint32_t, 4> code = {0xE59F0004, 0xE5901000, kLoopForever, 0x12345678};
    board.LoadCode(code);
    testing::internal::CaptureStderr();
    board.Start(MakeEmulatedProgramFactory());
    const auto ended = board.WaitEnded();
    board.StopProgram();
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ended, std::optional<bool>(false));
    EXPECT_NE(message.find("0x12345678"), std::string::npos) << message;
    EXPECT_NE(message.find("crashed in the code from 0xA0004000"), std::string::npos) << message;
}

TEST(UserPrograms, EndlessLoopStopsOnRequestWithoutEnding) {
    Board board(Cpu::VireoC_TO1);
    const std::array<uint32_t, 1> code = {kLoopForever};
    board.LoadCode(code);
    board.Start(MakeEmulatedProgramFactory());
    EXPECT_EQ(board.Query(Channel::Serial, std::chrono::milliseconds(200)), std::nullopt);
    board.StopProgram();
    EXPECT_EQ(board.WaitEnded(std::chrono::milliseconds(0)), std::nullopt);
}

TEST(UserPrograms, StopBeforeTheProgramGetsGoingIsClean) {
    for (int i = 0; i < 20; ++i) {
        Board board(Cpu::VireoC_TO1);
        const std::array<uint32_t, 1> code = {kLoopForever};
        board.LoadCode(code);
        board.Start(MakeEmulatedProgramFactory());
        board.StopProgram();
    }
}

TEST(UserPrograms, OtherEntryRunsEmulatedEvenWithTheNativeFactory) {
    // At RAM base + 0x8000: send 'U' on the UART, then hand the board back.
    Board board(Cpu::VireoC_TO2);
    const BoardMap& map = board.Map();
    const std::array<uint32_t, 10> code = {0xE59F0014,     0xE3A01055, 0xE5801000,
                                           0xE59F000C,     0xE59F100C, 0xE5801000,
                                           kLoopForever,   map.uart,   map.systemControl + kSysBootControl,
                                           kReturnToRomKey};
    board.LoadCode(code, 0x8000);
    board.Start(MakeNativeProgramFactory(), 0x8000);
    EXPECT_EQ(board.WaitEnded(), std::optional<bool>(true));
    EXPECT_EQ(board.ReceivedBytes(Channel::Serial), 1u);
}

}  // namespace
}  // namespace vsim::test
