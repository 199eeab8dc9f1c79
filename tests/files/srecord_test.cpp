#include "convert/srecord.h"

#include <gtest/gtest.h>

#include <random>

#include "file_test_support.h"

namespace sealbench {
namespace {

using test::CrLfLines;
using test::ReadText;

class Converter : public ::testing::Test {
protected:
    std::string Input(const std::vector<uint8_t>& bytes, const std::string& name = "in.bin") {
        test::WriteBytes(dir_ / name, bytes);
        return dir_ / name;
    }
    SRecordRequest Request(const std::string& input) {
        SRecordRequest request;
        request.inputPath = input;
        request.outputPath = dir_ / "out.s19";
        return request;
    }
    std::vector<std::string> Lines() { return CrLfLines(ReadText(dir_ / "out.s19")); }

    test::TempDir dir_;
    SRecordOptions options_;
};

std::vector<uint8_t> Counting(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    return bytes;
}

TEST_F(Converter, WorkedExampleWithPageDefaults) {
    auto outcome = ConvertFile(options_, Request(Input(Counting(40))), nullptr);
    ASSERT_TRUE(outcome.Ok());
    EXPECT_EQ(outcome.value.messages, std::vector<std::string>{"Convertion finished!"});
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "S00600004844521B",
                           "S1230000000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FEC",
                           "S10B00202021222324252627B8",
                           "S5030002FA",
                           "S9030000FC",
                       }));
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"in.bin", "out.s19"}));
}

TEST_F(Converter, HighOffsetRaisesToS3AndTheWidthPersists) {
    auto request = Request(Input(Counting(40)));
    request.offset = HexTextToValue("80000000");
    ASSERT_TRUE(ConvertFile(options_, request, nullptr).Ok());
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "S00600004844521B",
                           "S32580000000000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F6A",
                           "S30D80000020202122232425262736",
                           "S5030002FA",
                           "S705800000007A",
                       }));
    EXPECT_EQ(options_.addressBytes, 4);

    ASSERT_TRUE(ConvertFile(options_, Request(Input({1, 2})), nullptr).Ok());
    EXPECT_EQ(Lines()[1], "S307000000000102F5");
}

TEST_F(Converter, WidthFollowsTheLastAddress) {
    struct Case {
        uint32_t offset;
        char type;
    } cases[] = {{0xFFFF, '1'}, {0x10000, '2'}, {0xFFFFFF, '2'}, {0x1000000, '3'}};
    for (const Case& c : cases) {
        SRecordOptions fresh;
        auto request = Request(Input({0x5A}));
        request.offset = c.offset;
        ASSERT_TRUE(ConvertFile(fresh, request, nullptr).Ok());
        EXPECT_EQ(Lines()[1][1], c.type) << std::hex << c.offset;
    }
    SRecordOptions fresh;
    auto request = Request(Input({0x5A}));
    request.addressSize = 4;
    ASSERT_TRUE(ConvertFile(fresh, request, nullptr).Ok());
    EXPECT_EQ(Lines()[1], "S306000000005A9F");
    EXPECT_EQ(Lines().back(), "S70500000000FA");
}

TEST_F(Converter, ThirtyThreeBytesGiveAFullAndAOneByteRecord) {
    ASSERT_TRUE(ConvertFile(options_, Request(Input(Counting(33))), nullptr).Ok());
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1].substr(0, 4), "S123");
    EXPECT_EQ(lines[2], "S104002020BB");
    EXPECT_EQ(lines[3], "S5030002FA");
}

TEST_F(Converter, ClampsLineLengthAndAddressSize) {
    auto request = Request(Input(Counting(40)));
    request.lineLength = 3;
    request.addressSize = 1;
    ASSERT_TRUE(ConvertFile(options_, request, nullptr).Ok());
    EXPECT_EQ(options_.lineLength, 8);
    EXPECT_EQ(options_.addressBytes, 2);
    EXPECT_EQ(Lines().size(), 2u + 5u + 1u);
    EXPECT_EQ(Lines()[1], "S10B00000001020304050607D8");

    request.lineLength = 1000;
    request.addressSize = 9;
    ASSERT_TRUE(ConvertFile(options_, request, nullptr).Ok());
    EXPECT_EQ(options_.lineLength, 32);
    EXPECT_EQ(options_.addressBytes, 4);
}

TEST_F(Converter, SuppressedHeaderAndFooterStaysOff) {
    auto request = Request(Input(Counting(40)));
    request.suppressHeaderAndFooter = true;
    ASSERT_TRUE(ConvertFile(options_, request, nullptr).Ok());
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 2), "S1");
    EXPECT_EQ(lines[1].substr(0, 2), "S1");

    ASSERT_TRUE(ConvertFile(options_, Request(Input(Counting(40))), nullptr).Ok());
    EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(Converter, DefaultOffsetIsBeginAndEndIsLimitedToTheFile) {
    auto request = Request(Input(Counting(40)));
    request.begin = 0x10;
    request.end = 0x1000;
    ASSERT_TRUE(ConvertFile(options_, request, nullptr).Ok());
    EXPECT_EQ(options_.end, 0x27u);
    EXPECT_EQ(options_.offset, 0x10u);
    EXPECT_EQ(Lines()[1], "S11B0010101112131415161718191A1B1C1D1E1F202122232425262740");
    EXPECT_EQ(Lines().back(), "S9030010EC");
}

TEST_F(Converter, RangeOutsideTheFileWarnsAndWritesNoDataRecords) {
    auto request = Request(Input(Counting(16)));
    request.begin = 0x20;
    auto outcome = ConvertFile(options_, request, nullptr);
    EXPECT_TRUE(outcome.Ok());
    EXPECT_TRUE(outcome.value.warned);
    EXPECT_EQ(outcome.value.messages,
              (std::vector<std::string>{"Begin address 20h is greater than file size Fh",
                                        "End address Fh is less than begin address 20h", "Convertion finished!"}));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"S00600004844521B", "S5030000FC", "S9030020DC"}));

    // end < begin with begin at 0 once looped over the whole address space.
    SRecordOptions fresh;
    auto zero = Request(Input(Counting(16)));
    zero.begin = 4;
    zero.end = 3;
    zero.offset = 0;
    auto second = ConvertFile(fresh, zero, nullptr);
    EXPECT_TRUE(second.value.warned);
    EXPECT_EQ(second.value.messages.front(), "End address 3h is less than begin address 4h");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"S00600004844521B", "S5030000FC", "S9030000FC"}));
}

TEST_F(Converter, EmptyInputHasNoDataRecords) {
    auto outcome = ConvertFile(options_, Request(Input({})), nullptr);
    EXPECT_TRUE(outcome.Ok());
    EXPECT_FALSE(outcome.value.warned);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"S00600004844521B", "S5030000FC", "S9030000FC"}));
}

TEST_F(Converter, RangesReachingTheTopOfTheSpaceAreRefusedWithoutOutput) {
    for (uint32_t offset : {0xFFFFFFF0u, 0xFFFFFFE0u, 0xFFFFFFE1u}) {
        auto request = Request(Input(Counting(32)));
        request.offset = offset;
        auto outcome = ConvertFile(options_, request, nullptr);
        EXPECT_FALSE(outcome.Ok()) << std::hex << offset;
        ASSERT_EQ(outcome.value.messages.size(), 1u);
        EXPECT_NE(outcome.value.messages[0].find("not supported"), std::string::npos);
        EXPECT_FALSE(test::Exists(dir_ / "out.s19"));
    }
    auto request = Request(Input(Counting(32)));
    request.offset = 0xFFFFFFBF;
    EXPECT_TRUE(ConvertFile(options_, request, nullptr).Ok());
}

TEST_F(Converter, MissingInputAndUnwritableOutputAreReportedAndCreateNothing) {
    auto missing = Request(dir_ / "nope.bin");
    auto outcome = ConvertFile(options_, missing, nullptr);
    EXPECT_FALSE(outcome.Ok());
    EXPECT_EQ(outcome.value.messages, std::vector<std::string>{"Input file " + (dir_ / "nope.bin") + " not found"});
    EXPECT_TRUE(dir_.Entries().empty());

    auto request = Request(Input(Counting(4)));
    request.outputPath = dir_ / "no/out.s19";
    outcome = ConvertFile(options_, request, nullptr);
    EXPECT_FALSE(outcome.Ok());
    ASSERT_EQ(outcome.value.messages.size(), 1u);
    EXPECT_NE(outcome.value.messages[0].find("no/out.s19"), std::string::npos);
    EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"in.bin"});
}

TEST_F(Converter, MessagesGoToTheLogToo) {
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    ConvertFile(options_, Request(dir_ / "nope.bin"), log);
    std::rewind(log);
    char text[512] = {};
    size_t n = std::fread(text, 1, sizeof text - 1, log);
    std::fclose(log);
    EXPECT_EQ(std::string(text, n), "Input file " + (dir_ / "nope.bin") + " not found\n");
}

// binutils reads our files back to the same bytes, for random inputs and ranges.
TEST_F(Converter, ObjcopyReadsBackTheSameBytes) {
    std::mt19937 random(2024);
    for (int round = 0; round < 12; ++round) {
        size_t size = 1 + random() % 5000;
        auto bytes = test::RandomBytes(size, static_cast<uint32_t>(round));
        SRecordOptions options;
        auto request = Request(Input(bytes));
        uint32_t begin = static_cast<uint32_t>(random() % size);
        uint32_t end = begin + static_cast<uint32_t>(random() % (size - begin));
        request.begin = begin;
        request.end = end;
        request.offset = round % 3 == 0 ? 0 : (round % 3 == 1 ? 0x12345u : 0xA0004000u);
        request.lineLength = 8 + static_cast<long long>(random() % 25);
        ASSERT_TRUE(ConvertFile(options, request, nullptr).Ok());

        auto result = test::RunProcess({"objcopy", "-I", "srec", "-O", "binary", dir_ / "out.s19", dir_ / "back.bin"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        std::vector<uint8_t> expected(bytes.begin() + begin, bytes.begin() + end + 1);
        EXPECT_EQ(test::ReadBytes(dir_ / "back.bin"), expected) << "round " << round;
    }
}

TEST_F(Converter, ObjcopyAcceptsTheCountRecordOfLargeFiles) {
    // 0x10000 records need the 24-bit count record.
    auto bytes = test::RandomBytes(0x10000 * 8 + 3, 5);
    auto request = Request(Input(bytes));
    request.lineLength = 8;
    ASSERT_TRUE(ConvertFile(options_, request, nullptr).Ok());
    auto lines = Lines();
    EXPECT_EQ(lines[lines.size() - 2], "S604010001F9");
    auto result = test::RunProcess({"objcopy", "-I", "srec", "-O", "binary", dir_ / "out.s19", dir_ / "back.bin"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(test::ReadBytes(dir_ / "back.bin"), bytes);
}

}  // namespace
}  // namespace sealbench
