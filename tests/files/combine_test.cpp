#include "imagebuild/combine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "file_test_support.h"

namespace sealbench {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class CombineFiles : public ::testing::Test {
protected:
    // Writes the three inputs with recognisable contents of the given sizes.
    CombineRequest Inputs(size_t hwcSize, size_t csfSize, size_t osSize, bool vireoA = false) {
        hwc_ = std::vector<uint8_t>(hwcSize, 0x11);
        csf_ = std::vector<uint8_t>(csfSize, 0x22);
        os_ = test::RandomBytes(osSize, 7);
        WriteBytes(dir_ / "hwc.bin", hwc_);
        WriteBytes(dir_ / "csf.bin", csf_);
        WriteBytes(dir_ / "os.bin", os_);
        return {dir_ / "out.bin", dir_ / "os.bin", dir_ / "csf.bin", dir_ / "hwc.bin", AddressPreset(vireoA)};
    }
    TempDir dir_;
    std::vector<uint8_t> hwc_, csf_, os_;
};

bool AllBytes(const std::vector<uint8_t>& bytes, size_t from, size_t to, uint8_t value) {
    for (size_t i = from; i < to; ++i) {
        if (bytes[i] != value) {
            return false;
        }
    }
    return true;
}

TEST_F(CombineFiles, DefaultPresetGivesTheDocumentedLayout) {
    auto outcome = RunCombine(Inputs(0x100, 0x800, 0x10000));
    ASSERT_TRUE(outcome.Ok()) << outcome.detail;
    EXPECT_EQ(outcome.message, "Complete!");
    auto out = ReadBytes(dir_ / "out.bin");
    ASSERT_EQ(out.size(), 0x14000u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), (std::vector<uint8_t>{0x00, 0x40, 0x00, 0xA0}));
    EXPECT_TRUE(AllBytes(out, 4, 0x1000, 0));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 0x1000, out.begin() + 0x100C),
              (std::vector<uint8_t>{0x00, 0x12, 0x00, 0xA0, 0x10, 0x10, 0x00, 0xA0, 0x00, 0x40, 0x00, 0xA0}));
    EXPECT_TRUE(AllBytes(out, 0x100C, 0x1010, 0));
    EXPECT_TRUE(AllBytes(out, 0x1010, 0x1110, 0x11));
    EXPECT_TRUE(AllBytes(out, 0x1110, 0x1200, 0));
    EXPECT_TRUE(AllBytes(out, 0x1200, 0x1A00, 0x22));
    EXPECT_TRUE(AllBytes(out, 0x1A00, 0x4000, 0));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 0x4000, out.end()), os_);
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"csf.bin", "hwc.bin", "os.bin", "out.bin"}));
}

TEST_F(CombineFiles, VireoAPresetUsesTheC800Window) {
    ASSERT_TRUE(RunCombine(Inputs(0x10, 0x10, 0x10, true)).Ok());
    auto out = ReadBytes(dir_ / "out.bin");
    ASSERT_EQ(out.size(), 0x4010u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), (std::vector<uint8_t>{0x00, 0x40, 0x00, 0xC8}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 0x1000, out.begin() + 0x100C),
              (std::vector<uint8_t>{0x00, 0x12, 0x00, 0xC8, 0x10, 0x10, 0x00, 0xC8, 0x00, 0x40, 0x00, 0xC8}));
}

TEST_F(CombineFiles, PiecesFitExactlyAndOneByteMoreFails) {
    EXPECT_TRUE(RunCombine(Inputs(0x1F0, 0x2E00, 1)).Ok());
    for (auto [hwc, csf] : {std::pair<size_t, size_t>{0x1F1, 0x10}, {0x10, 0x2E01}}) {
        std::filesystem::remove(dir_ / "out.bin");
        auto outcome = RunCombine(Inputs(hwc, csf, 1));
        EXPECT_FALSE(outcome.Ok());
        EXPECT_EQ(outcome.message, "File Construction Error");
        EXPECT_FALSE(test::Exists(dir_ / "out.bin"));
    }
}

TEST_F(CombineFiles, EmptyOsEndsWithTheCsf) {
    ASSERT_TRUE(RunCombine(Inputs(0x20, 0x30, 0)).Ok());
    EXPECT_EQ(ReadBytes(dir_ / "out.bin").size(), 0x1230u);
    ASSERT_TRUE(RunCombine(Inputs(0, 0, 0)).Ok());
    EXPECT_EQ(ReadBytes(dir_ / "out.bin").size(), 0x100Cu);
}

TEST_F(CombineFiles, MissingOrEmptyInputPathsFailAndLeaveTheTargetAlone) {
    auto request = Inputs(0x10, 0x10, 0x10);
    WriteBytes(dir_ / "out.bin", {1, 2, 3});
    for (std::string CombineRequest::*field :
         {&CombineRequest::osPath, &CombineRequest::csfPath, &CombineRequest::hwcPath}) {
        for (std::string path : {std::string(), dir_ / "nope.bin", dir_.Path()}) {
            CombineRequest broken = request;
            broken.*field = path;
            auto outcome = RunCombine(broken);
            EXPECT_FALSE(outcome.Ok());
            EXPECT_EQ(outcome.message, "File Construction Error");
            EXPECT_FALSE(outcome.detail.empty());
        }
    }
    EXPECT_EQ(ReadBytes(dir_ / "out.bin"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"csf.bin", "hwc.bin", "os.bin", "out.bin"}));
}

TEST_F(CombineFiles, UnwritableTargetFailsWithoutLeftovers) {
    auto request = Inputs(0x10, 0x10, 0x10);
    request.target = dir_ / "no/such/folder/out.bin";
    EXPECT_EQ(RunCombine(request).message, "File Construction Error");
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"csf.bin", "hwc.bin", "os.bin"}));
}

TEST_F(CombineFiles, InputShorterThanItsGivenLengthFails) {
    Inputs(0x10, 0x10, 0x10);
    auto a = AddressPreset(false);
    EXPECT_EQ(CombineImage(dir_ / "out.bin", dir_ / "os.bin", dir_ / "csf.bin", dir_ / "hwc.bin", a.image, a.csf, a.hwc,
                           0x11, 0x10, 0x10),
              0);
    EXPECT_EQ(CombineImage(dir_ / "out.bin", dir_ / "os.bin", dir_ / "csf.bin", dir_ / "hwc.bin", a.image, a.csf, a.hwc,
                           0x10, -1, 0x10),
              0);
    EXPECT_FALSE(test::Exists(dir_ / "out.bin"));
    EXPECT_NE(CombineImage(dir_ / "out.bin", dir_ / "os.bin", dir_ / "csf.bin", dir_ / "hwc.bin", a.image, a.csf, a.hwc,
                           0x8, 0x10, 0x10),
              0);
    EXPECT_EQ(ReadBytes(dir_ / "out.bin").size(), 0x4008u);
}

TEST(CombineLayout, OffsetRulesInOrder) {
    std::vector<uint8_t> four(4, 0xAB);
    // HWC below 0x1010, CSF below 0x1010, CSF before the HWC's end, image before the CSF's end.
    EXPECT_FALSE(LayOutCombinedImage({"A0004000", "A0001200", "A000100C"}, four, four, four));
    EXPECT_FALSE(LayOutCombinedImage({"A0004000", "A000100F", "A0001010"}, four, {}, {}));
    EXPECT_FALSE(LayOutCombinedImage({"A0004000", "A0001012", "A0001010"}, four, four, four));
    EXPECT_FALSE(LayOutCombinedImage({"A0001202", "A0001200", "A0001010"}, four, four, four));
    // Adjacent pieces are fine; a CSF below the HWC fails even when the HWC is empty.
    auto tight = LayOutCombinedImage({"A0001018", "A0001014", "A0001010"}, four, four, four);
    ASSERT_TRUE(tight);
    EXPECT_EQ(tight->size(), 0x101Cu);
    EXPECT_FALSE(LayOutCombinedImage({"A0004000", "A0001010", "A0001020"}, four, four, {}));
}

TEST(CombineChecks, EachMessageInItsOrder) {
    const CombineAddresses good = AddressPreset(false);
    auto check = [](std::string_view target, CombineAddresses a) { return CheckCombineFields(target, a); };
    EXPECT_EQ(check("out", good), std::nullopt);
    EXPECT_EQ(check("", {"", "x", "yy"}), "Please Enter target location");
    EXPECT_EQ(check("out", {"A0004000", "a0001200", "A0001010"}), "Addresses Not Match!");
    EXPECT_EQ(check("out", {"B0004000", "A0001200", "A0001010"}), "Addresses Not Match!");
    // The window test comes before the length test.
    EXPECT_EQ(check("out", {"A0004000", "A0011200", "A000101"}), "Addresses Not Match!");
    EXPECT_EQ(check("out", {"A0004000", "A0001200", "A000101"}),
              "Incorrect Address Format! Please Enter 8 digit Hex no.");
    EXPECT_EQ(check("out", {"A00040000", "A0001200", "A0001010"}),
              "Incorrect Address Format! Please Enter 8 digit Hex no.");
    // The lowest position decides; at one position image, then CSF, then HWC.
    EXPECT_EQ(check("out", {"A00040G0", "A000120G", "A00010G0"}),
              "Incorrect Image Address Input! Please Enter Hex no.");
    EXPECT_EQ(check("out", {"A000400G", "A00012G0", "A00010G0"}), "Incorrect CSF Address Input! Please Enter Hex no.");
    EXPECT_EQ(check("out", {"A000400G", "A000120G", "A00010G0"}), "Incorrect HWC Address Input! Please Enter Hex no.");
    EXPECT_EQ(check("out", {"G0004000", "G0001200", "G0001010"}),
              "Incorrect Image Address Input! Please Enter Hex no.");
    EXPECT_EQ(check("out", {"A0004001", "A0001200", "A0001010"}), "Image address must start at 0x4000");
    EXPECT_EQ(check("out", {"A0004a00", "A0001200", "A0001010"}), "Image address must start at 0x4000");
}

TEST(CombineChecks, FieldsShorterThanFourCharactersAreRefusedSafely) {
    auto check = [](CombineAddresses a) { return CheckCombineFields("out", a); };
    EXPECT_EQ(check({"", "", ""}), "Incorrect Address Format! Please Enter 8 digit Hex no.");
    EXPECT_EQ(check({"A0", "A0", "A0"}), "Incorrect Address Format! Please Enter 8 digit Hex no.");
    EXPECT_EQ(check({"A0", "A00", "A0"}), "Addresses Not Match!");
    EXPECT_EQ(check({"A0004000", "A0", "A0001010"}), "Addresses Not Match!");
}

TEST_F(CombineFiles, RunCombineStopsAtTheFirstCheckWithoutWriting) {
    auto request = Inputs(0x10, 0x10, 0x10);
    request.addresses.image = "A0004001";
    auto outcome = RunCombine(request);
    EXPECT_FALSE(outcome.Ok());
    EXPECT_EQ(outcome.message, "Image address must start at 0x4000");
    EXPECT_FALSE(test::Exists(dir_ / "out.bin"));
}

}  // namespace
}  // namespace sealbench
