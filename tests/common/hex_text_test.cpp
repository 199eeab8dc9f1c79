// Every reader of numbers written as text, side by side: each keeps the rules of the
// field it serves, and the same text must not read differently by accident.
#include "common/hex_text.h"

#include <gtest/gtest.h>

namespace sealbench {
namespace {

TEST(HexText, PageFieldsReadLikePercent08x) {
    EXPECT_EQ(ReadHexField("80004000"), 0x80004000u);
    EXPECT_EQ(ReadHexField("b7ffffff"), 0xB7FFFFFFu);
    EXPECT_EQ(ReadHexField("0x1FFFC000"), 0x1FFFC000u);
    EXPECT_EQ(ReadHexField("  100000"), 0x100000u);
    EXPECT_EQ(ReadHexField(""), 0u);
    EXPECT_EQ(ReadHexField("zebra"), 0u);  // not hexadecimal: 0
    EXPECT_EQ(ReadHexField("0x"), 0u);     // "0" read, the "x" ends it
    EXPECT_EQ(ReadHexField("12g4"), 0x12u);
    EXPECT_EQ(ReadHexField("123456789"), 0x12345678u);  // the first eight of nine digits
    EXPECT_EQ(ReadHexField("0x800040001"), 0x80004000u);
    EXPECT_EQ(ReadHexField("1234567890"), std::nullopt);
    EXPECT_EQ(ReadHexField("0x0000000001"), std::nullopt);
}

TEST(HexText, CommandLineTakesOnlyAPrefixAndOneToEightDigits) {
    EXPECT_EQ(ParseHexStrict("0x80004000"), 0x80004000u);
    EXPECT_EQ(ParseHexStrict("0X1f"), 0x1Fu);
    EXPECT_EQ(ParseHexStrict("ffffffff"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseHexStrict("0x"), std::nullopt);
    EXPECT_EQ(ParseHexStrict(""), std::nullopt);
    EXPECT_EQ(ParseHexStrict("123456789"), std::nullopt);
    EXPECT_EQ(ParseHexStrict(" 10"), std::nullopt);
    EXPECT_EQ(ParseHexStrict("10h"), std::nullopt);
}

TEST(HexText, ScriptFieldsTakeTheDigitsAfterTheFirstX) {
    EXPECT_EQ(ParseHexAfterX("0xB8001004"), 0xB8001004u);
    EXPECT_EQ(ParseHexAfterX("0x0123456789"), 0x01234567u);  // only eight digits count
    EXPECT_EQ(ParseHexAfterX("x10"), 0x10u);
    EXPECT_EQ(ParseHexAfterX("0X10"), std::nullopt);  // a lower-case "x" only
    EXPECT_EQ(ParseHexAfterX("0x"), std::nullopt);
    EXPECT_EQ(ParseHexAfterX("0x12g4"), std::nullopt);
}

TEST(HexText, ConverterShiftsEveryCharacterAndKeepsLow32Bits) {
    EXPECT_EQ(HexTextToValue("0x1000"), 0x1000u);
    EXPECT_EQ(HexTextToValue("80000000"), 0x80000000u);
    EXPECT_EQ(HexTextToValue("x100"), 0x100u);
    EXPECT_EQ(HexTextToValue("100h"), 0x1000u);
    EXPECT_EQ(HexTextToValue("abcdef"), 0xABCDEFu);
    EXPECT_EQ(HexTextToValue("123456789"), 0x23456789u);
    EXPECT_EQ(HexTextToValue(""), 0u);
}

TEST(HexText, DecimalFieldsClampAndRefuseTheRest) {
    EXPECT_EQ(DecimalTextToValue("16"), 16);
    EXPECT_EQ(DecimalTextToValue("-3"), -3);
    EXPECT_EQ(DecimalTextToValue("99999999999999999999"), 1000000000);
    EXPECT_EQ(DecimalTextToValue("0x10"), std::nullopt);
    EXPECT_EQ(DecimalTextToValue(""), std::nullopt);
    EXPECT_EQ(DecimalTextToValue("-"), std::nullopt);
}

}  // namespace
}  // namespace sealbench
