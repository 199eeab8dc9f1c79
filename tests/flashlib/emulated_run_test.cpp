// The built-in flash libraries' real ARM code running on the emulated core.
#include <gtest/gtest.h>

#include "board_harness.h"
#include "programs/programs.h"

namespace vsim::test {
namespace {

using flashlib::BuiltinFlashLibrary;
using flashlib::BuiltinLibrary;

TEST(EmulatedFlashLibrary, NorVireoCWritesTheImageOverSerial)
{
    Board board(Cpu::VireoC_TO2);
    const auto image = RandomImage(200000);
    board.LoadLibrary(BuiltinFlashLibrary(BuiltinLibrary::NorVireoC));
    board.LoadJob(board.Map().norBase, image, Channel::Serial);
    board.Start(MakeEmulatedProgramFactory());
    const auto states = board.PollToEnd(Channel::Serial);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), kStateDone);
    EXPECT_EQ(board.WaitEnded(), std::optional<bool>(true));
    EXPECT_EQ(board.Nor(0, image.size()), image);
}

}  // namespace
}  // namespace vsim::test
