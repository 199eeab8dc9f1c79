// Which status words a flash library can send, and how long it may stay silent.
#include "download/run/status_words.h"

#include <gtest/gtest.h>

#include "download/run/run_sequence.h"

namespace sealbench {
namespace {

TEST(StatusWords, ABuiltinLibrarysWordsFollowItsDatasheetAndAnythingElseIsOutOfStep) {
    struct Case {
        std::vector<uint32_t> words;
        bool lastFits;
    };
    // A 1 MiB image: progress up to 0x400 KiB.
    const Case cases[] = {
        {{0x00A10000, 0x00A10200, 0x00A20000, 0x00A20400, 0x00A30400, 0x00B40000}, true},
        {{0x00A10000, 0x00B10000}, true},
        {{0x00A20010, 0x00B30000}, true},
        {{0x00B400A2}, false},              // a final code with a count: two answers run together
        {{0x00A20123, 0x012300A2}, false},  // the same two bytes apart during a stage
        {{0x00A10401}, false},              // more done than the image holds
        {{0x00A20000, 0x00A10000}, false},  // a stage that goes back
        {{0x00A20200, 0x00A20100}, false},  // a count that goes back
        {{0x00C00000}, false},
        {{0x000000A2}, false},
    };
    for (const Case& c : cases) {
        StatusWordCheck check(true, 0x100000);
        for (size_t i = 0; i + 1 < c.words.size(); ++i) ASSERT_TRUE(check.Fits(c.words[i])) << std::hex << c.words[i];
        EXPECT_EQ(check.Fits(c.words.back()), c.lastFits) << std::hex << c.words.back();
    }
    // A user's library is read by its state code alone.
    StatusWordCheck user(false, 0x100000);
    for (uint32_t word : {0x00B400A2u, 0x00C00000u, 0x00A2FFFFu, 0x00A10000u}) EXPECT_TRUE(user.Fits(word));
}

TEST(StatusWords, SilenceIsBoundedByTheKindOfLibraryUnlessTheSettingsSay) {
    FlashingChoices choices;
    EXPECT_EQ(StatusSilenceLimit(choices, FlashType::Nor), std::chrono::seconds(20));
    EXPECT_EQ(StatusSilenceLimit(choices, FlashType::Nand), std::chrono::seconds(20));
    EXPECT_EQ(StatusSilenceLimit(choices, FlashType::UserInput), std::chrono::seconds(300));
    choices.statusSilenceLimit = std::chrono::seconds(7);
    EXPECT_EQ(StatusSilenceLimit(choices, FlashType::Nor), std::chrono::seconds(7));
    EXPECT_EQ(StatusSilenceLimit(choices, FlashType::UserInput), std::chrono::seconds(7));
}

}  // namespace
}  // namespace sealbench
