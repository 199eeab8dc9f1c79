#include "common/address_text.h"

#include <gtest/gtest.h>

namespace sealbench {
namespace {

TEST(AddressText, DigitValuesOfBothCasesAndZeroForTheRest) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('A'), 10);
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue('G'), 0);
    EXPECT_EQ(HexDigitValue('x'), 0);
    EXPECT_EQ(HexDigitValue('\0'), 0);
    EXPECT_EQ(HexDigitValue(static_cast<char>(0xC1)), 0);
}

TEST(AddressText, BytesAreLeastSignificantFirst) {
    EXPECT_EQ(AddressToBytes("A0004000"), (std::array<uint8_t, 4>{0x00, 0x40, 0x00, 0xA0}));
    EXPECT_EQ(AddressToBytes("53fc0000"), (std::array<uint8_t, 4>{0x00, 0x00, 0xFC, 0x53}));
    EXPECT_EQ(AddressToBytes("12345678"), (std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(AddressOffset("C8001200"), 0x1200u);
    EXPECT_EQ(AddressOffset("A000fFfF"), 0xFFFFu);
}

TEST(AddressText, ShortTextsAreReadAsIfPaddedAtTheEndWithZeros) {
    EXPECT_EQ(AddressToBytes(""), (std::array<uint8_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(AddressToBytes("12"), (std::array<uint8_t, 4>{0, 0, 0, 0x12}));
    EXPECT_EQ(AddressOffset("A000"), 0u);
    EXPECT_FALSE(IsAddressText("A000400"));
    EXPECT_FALSE(IsAddressText("A000400G"));
    EXPECT_TRUE(IsAddressText("a000400f"));
}

}  // namespace
}  // namespace sealbench
