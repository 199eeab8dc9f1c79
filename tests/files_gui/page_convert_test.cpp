#include "convert/qt/page_convert.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include "fake_prompts.h"
#include "file_test_support.h"

namespace {

using sealbench::test::ClickButton;

class ConvertPage : public ::testing::Test {
protected:
    void SetUp() override {
        page.SetPrompts(user.Prompts());
        page.show();
        std::vector<uint8_t> bytes(40);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(i);
        }
        sealbench::test::WriteBytes(dir / "in.bin", bytes);
        page.BinPathField()->setText(QString::fromStdString(dir / "in.bin"));
        page.TargetField()->setText(QString::fromStdString(dir / "out.s19"));
    }
    std::vector<std::string> Lines() { return sealbench::test::CrLfLines(sealbench::test::ReadText(dir / "out.s19")); }

    CPage_Convert page;
    sealbench::test::FakeUser user;
    sealbench::test::TempDir dir;
};

TEST_F(ConvertPage, OpensWithDefaultsAndHiddenOptions) {
    for (QLineEdit* field :
         {page.OffsetField(), page.BeginField(), page.EndField(), page.LineLengthField(), page.AddressSizeField()}) {
        EXPECT_EQ(field->text(), "DEFAULT");
        EXPECT_TRUE(field->isEnabled());
    }
    EXPECT_TRUE(page.OffsetField()->isVisible());
    EXPECT_FALSE(page.BeginField()->isVisible());
    EXPECT_FALSE(page.SuppressBox()->isVisible());
    EXPECT_TRUE(page.UserDefineBox()->isChecked());
    page.UserDefineBox()->setChecked(false);
    EXPECT_FALSE(page.OffsetField()->isEnabled());
    EXPECT_FALSE(page.AddressSizeField()->isEnabled());
}

TEST_F(ConvertPage, ConvertsTheWorkedExample) {
    ClickButton(&page, "Convert");
    EXPECT_EQ(user.messages, (QStringList{QString::fromStdString(dir / "out.s19"), "Convertion finished!"}));
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "S00600004844521B",
                           "S1230000000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FEC",
                           "S10B00202021222324252627B8",
                           "S5030002FA",
                           "S9030000FC",
                       }));
}

TEST_F(ConvertPage, RaisedWidthAndClearedHeaderPersist) {
    page.OffsetField()->setText("80000000");
    ClickButton(&page, "Convert");
    EXPECT_EQ(Lines().back(), "S705800000007A");

    page.OffsetField()->setText("DEFAULT");
    page.SuppressBox()->setChecked(true);
    ClickButton(&page, "Convert");
    page.SuppressBox()->setChecked(false);
    ClickButton(&page, "Convert");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 4), "S325");
    EXPECT_EQ(page.Options().addressBytes, 4);
}

TEST_F(ConvertPage, OffsetTextsAndHiddenFields) {
    page.OffsetField()->setText("100h");
    page.LineLengthField()->setText("4");
    ClickButton(&page, "Convert");
    EXPECT_EQ(page.Options().offset, 0x1000u);
    EXPECT_EQ(page.Options().lineLength, 8);
    EXPECT_EQ(Lines()[1].substr(0, 8), "S10B1000");

    page.LineLengthField()->setText("eight");
    user.messages.clear();
    ClickButton(&page, "Convert");
    ASSERT_EQ(user.messages.size(), 1);
    EXPECT_TRUE(user.messages[0].contains("eight"));
}

TEST_F(ConvertPage, AnInputThatIsNoFileOrTheOutputIsRefused) {
    const auto input = sealbench::test::ReadBytes(dir / "in.bin");
    page.TargetField()->setText(QString::fromStdString(dir / "in.bin"));
    ClickButton(&page, "Convert");
    ASSERT_EQ(user.messages.size(), 1);
    EXPECT_TRUE(user.messages[0].contains("is the input file")) << user.messages[0].toStdString();
    EXPECT_EQ(sealbench::test::ReadBytes(dir / "in.bin"), input);

    // A FIFO would hold the window in open() until some program writes to it.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    page.BinPathField()->setText(QString::fromStdString(dir / "fifo"));
    page.TargetField()->setText(QString::fromStdString(dir / "out.s19"));
    user.messages.clear();
    ClickButton(&page, "Convert");
    ASSERT_EQ(user.messages.size(), 1);
    EXPECT_TRUE(user.messages[0].contains("it is a FIFO")) << user.messages[0].toStdString();
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"fifo", "in.bin"}));
}

TEST_F(ConvertPage, MissingInputShowsOnlyItsMessage) {
    page.BinPathField()->setText(QString::fromStdString(dir / "none.bin"));
    std::filesystem::remove(dir / "in.bin");
    ClickButton(&page, "Convert");
    EXPECT_EQ(user.messages, QStringList{QString::fromStdString("Input file " + (dir / "none.bin") + " not found")});
    EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace
