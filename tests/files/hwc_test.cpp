#include <gtest/gtest.h>

#include <filesystem>

#include "file_test_support.h"
#include "hwc/hwc_records.h"

namespace sealbench {
namespace {

std::vector<std::string> Messages(const Result<std::vector<HwcRefusal>>& exported) {
    std::vector<std::string> messages;
    for (const HwcRefusal& r : exported.value) messages.push_back(r.message);
    return messages;
}

std::vector<int> Indexes(const Result<std::vector<HwcRefusal>>& exported) {
    std::vector<int> indexes;
    for (const HwcRefusal& r : exported.value) indexes.push_back(r.index);
    return indexes;
}

using test::ReadBytes;
using test::TempDir;

TEST(HwcAddRecord, PadsShortTextsAndRefusesMissingOrLongOnes) {
    auto added = MakeHwcRecord("1", "ABC");
    ASSERT_TRUE(added.record);
    EXPECT_EQ(added.record->address, "00000001");
    EXPECT_EQ(added.record->data, "00000ABC");

    EXPECT_EQ(MakeHwcRecord("123456789", "1").refusal, kMsgHwcTooLong);
    EXPECT_EQ(MakeHwcRecord("1", "123456789").refusal, kMsgHwcTooLong);
    EXPECT_EQ(MakeHwcRecord("", "1").refusal, kMsgHwcFieldsIncomplete);
    EXPECT_EQ(MakeHwcRecord("1", "").refusal, kMsgHwcFieldsIncomplete);
    EXPECT_FALSE(MakeHwcRecord("", "123456789").record);

    // Characters are left to the export, and case is kept.
    auto odd = MakeHwcRecord("zz", "ab");
    ASSERT_TRUE(odd.record);
    EXPECT_EQ(odd.record->address, "000000zz");
    EXPECT_EQ(odd.record->data, "000000ab");
}

TEST(HwcRecordCheck, LengthComesBeforeCharactersAndPositionsDecideTheOrder) {
    EXPECT_EQ(CheckHwcRecord("00000001", "0000001"), kMsgHwcNotEightDigits);
    EXPECT_EQ(CheckHwcRecord("0000000G", "0000001"), kMsgHwcNotEightDigits);
    EXPECT_EQ(CheckHwcRecord("0000000G", "00000001"), kMsgHwcAddressNotHex);
    EXPECT_EQ(CheckHwcRecord("00000001", "0000000G"), kMsgHwcDataNotHex);
    // At the same position the address goes first; an earlier position wins.
    EXPECT_EQ(CheckHwcRecord("G0000000", "G0000000"), kMsgHwcAddressNotHex);
    EXPECT_EQ(CheckHwcRecord("0000000G", "G0000000"), kMsgHwcDataNotHex);
    EXPECT_EQ(CheckHwcRecord("abcdef09", "ABCDEF09"), std::nullopt);
}

TEST(HwcExportFile, TwoRecordsGiveTheTwentyByteFile) {
    TempDir dir;
    auto outcome = ExportHwc(dir / "a.hwc", {{"00000001", "00000ABC"}, {"53FC0000", "00000001"}});
    EXPECT_TRUE(outcome.Ok());
    EXPECT_EQ(outcome.outcome.message, kMsgHwcExported);
    EXPECT_EQ(ReadBytes(dir / "a.hwc"),
              (std::vector<uint8_t>{0x14, 0, 0, 0, 0x01, 0, 0, 0, 0xBC, 0x0A, 0, 0, 0, 0, 0xFC, 0x53, 0x01, 0, 0, 0}));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"a.hwc"});
}

TEST(HwcExportFile, OneRecordAndLowerCaseGiveTheSameBytes) {
    TempDir dir;
    ASSERT_TRUE(ExportHwc(dir / "upper", {{"53FC0000", "ABCDEF01"}}).Ok());
    ASSERT_TRUE(ExportHwc(dir / "lower", {{"53fc0000", "abcdef01"}}).Ok());
    std::vector<uint8_t> expected{0x0C, 0, 0, 0, 0, 0, 0xFC, 0x53, 0x01, 0xEF, 0xCD, 0xAB};
    EXPECT_EQ(ReadBytes(dir / "upper"), expected);
    EXPECT_EQ(ReadBytes(dir / "lower"), expected);
}

TEST(HwcExportFile, RefusedRecordsAreSkippedAndNotCounted) {
    TempDir dir;
    auto outcome =
        ExportHwc(dir / "a.hwc", {{"0000000X", "00000001"}, {"53FC0000", "00000001"}, {"00000002", "0000002"}});
    EXPECT_TRUE(outcome.Ok());
    EXPECT_EQ(Messages(outcome), (std::vector<std::string>{"addr is not in Hex format", "addr or data not 8 digits"}));
    EXPECT_EQ(Indexes(outcome), (std::vector<int>{0, 2}));
    EXPECT_EQ(ReadBytes(dir / "a.hwc"), (std::vector<uint8_t>{0x0C, 0, 0, 0, 0, 0, 0xFC, 0x53, 0x01, 0, 0, 0}));
}

TEST(HwcExportFile, EveryRecordRefusedLeavesTheTargetAloneAndDoesNotClaimSuccess) {
    TempDir dir;
    test::WriteText(dir / "a.hwc", "old contents");
    auto outcome = ExportHwc(dir / "a.hwc", {{"0000000X", "00000001"}, {"1", "2"}});
    EXPECT_FALSE(outcome.Ok());
    EXPECT_NE(outcome.outcome.message, kMsgHwcExported);
    EXPECT_EQ(outcome.value.size(), 2u);
    EXPECT_EQ(test::ReadText(dir / "a.hwc"), "old contents");

    TempDir empty;
    EXPECT_FALSE(ExportHwc(empty / "new.hwc", {{"X", "Y"}}).Ok());
    EXPECT_TRUE(empty.Entries().empty());
}

TEST(HwcExportFile, TargetIsCheckedBeforeTheRecordCount) {
    EXPECT_EQ(ExportHwc("", {}).outcome.message, kMsgHwcNoTarget);
    TempDir dir;
    EXPECT_EQ(ExportHwc(dir / "a.hwc", {}).outcome.message, kMsgHwcNoRecords);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(HwcExportFile, ReplacesAnExistingFileWhole) {
    TempDir dir;
    test::WriteBytes(dir / "a.hwc", std::vector<uint8_t>(100, 0xEE));
    ASSERT_TRUE(ExportHwc(dir / "a.hwc", {{"00000001", "00000002"}}).Ok());
    EXPECT_EQ(ReadBytes(dir / "a.hwc").size(), 12u);
}

TEST(HwcExportFile, UnwritableTargetIsReportedAndLeavesNothing) {
    TempDir dir;
    auto outcome = ExportHwc(dir / "missing/a.hwc", {{"00000001", "00000002"}});
    EXPECT_FALSE(outcome.Ok());
    EXPECT_NE(outcome.outcome.message.find("missing/a.hwc"), std::string::npos) << outcome.outcome.message;
    EXPECT_TRUE(dir.Entries().empty());

    // A folder in the target's place is not replaced by the file.
    std::filesystem::create_directory(dir / "folder");
    EXPECT_FALSE(ExportHwc(dir / "folder", {{"00000001", "00000002"}}).Ok());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
}

TEST(HwcExportFile, RecordsBeyondTheCombinedImageRoomAreRefused) {
    // 0x2E00 bytes hold the byte count and 1471 records.
    std::vector<HwcRecord> records(1472, HwcRecord{"00000001", "00000002"});
    TempDir dir;
    auto outcome = ExportHwc(dir / "big.hwc", records);
    EXPECT_TRUE(outcome.Ok());
    ASSERT_EQ(Messages(outcome), std::vector<std::string>{std::string(kMsgHwcTooBig)});
    EXPECT_EQ(Indexes(outcome), std::vector<int>{1471});
    auto bytes = ReadBytes(dir / "big.hwc");
    ASSERT_EQ(bytes.size(), 4u + 8u * 1471u);
    EXPECT_EQ(bytes[0] | bytes[1] << 8, 4 + 8 * 1471);
}

}  // namespace
}  // namespace sealbench
