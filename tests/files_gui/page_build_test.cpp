#include "imagebuild/qt/page_build.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "fake_prompts.h"
#include "file_test_support.h"

namespace {

using sealbench::test::ClickButton;

class BuildPage : public ::testing::Test {
protected:
    void SetUp() override {
        page.SetPrompts(user.Prompts());
        page.show();
        const char* path = std::getenv("PATH");
        oldPath = path ? path : "";
        ::setenv("PATH", (tools.Path() + ":" + oldPath).c_str(), 1);
        oldFolder = std::filesystem::current_path();
        std::filesystem::current_path(tools.Path());
    }
    void TearDown() override {
        ::setenv("PATH", oldPath.c_str(), 1);
        std::filesystem::current_path(oldFolder);
    }

    // A stand-in signing tool that records its arguments, one a line, and writes
    // its output file ($5, in the current folder, which SetUp makes `tools`).
    void InstallTool() {
        sealbench::test::WriteText(tools / "sekurel_build", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + (tools / "args") +
                                                                "'\nprintf signed > \"$5\"\n");
        ASSERT_EQ(::chmod((tools / "sekurel_build").c_str(), 0755), 0);
    }
    QString Args() { return QString::fromStdString(sealbench::test::ReadText(tools / "args")); }

    CPage_Build page;
    sealbench::test::FakeUser user;
    sealbench::test::TempDir tools;
    std::string oldPath;
    std::filesystem::path oldFolder;
};

TEST_F(BuildPage, OpensWithTheDefaultPresetAndDisabledFields) {
    EXPECT_EQ(page.OsAddressField()->text(), "A0004000");
    EXPECT_EQ(page.CsfAddressField()->text(), "A0001200");
    EXPECT_EQ(page.HwcAddressField()->text(), "A0001010");
    EXPECT_FALSE(page.OsAddressField()->isEnabled());
    EXPECT_FALSE(page.HwcAddressField()->isEnabled());
    EXPECT_FALSE(page.ProfileList()->isEnabled());

    QTest::mouseClick(page.VireoABox(), Qt::LeftButton);
    EXPECT_EQ(page.OsAddressField()->text(), "C8004000");
    EXPECT_EQ(page.CsfAddressField()->text(), "C8001200");
    EXPECT_EQ(page.HwcAddressField()->text(), "C8001010");
    QTest::mouseClick(page.VireoABox(), Qt::LeftButton);
    EXPECT_EQ(page.OsAddressField()->text(), "A0004000");
}

TEST_F(BuildPage, SignRunsTheToolAndShowsTheCommandLine) {
    InstallTool();
    page.IdentifierField()->setText("MYID");
    page.CsfField()->setText("d:\\work\\app.csf");
    page.OutputCsfField()->setText("d:\\work\\out.bin");
    ClickButton(&page, "Sekurel Build");
    EXPECT_EQ(
        user.messages,
        QStringList{"sekurel_build --identifier=MYID --fmt=BIN --output=CSF_APPL d:\\work\\app.csf d:\\work\\out.bin"});
    EXPECT_EQ(user.captions, QStringList{"Sealbench"});
    EXPECT_EQ(Args(), "--identifier=MYID\n--fmt=BIN\n--output=CSF_APPL\nd:\\work\\app.csf\nd:\\work\\out.bin\n");

    page.CsfField()->setText("my dir/app.csf");
    ClickButton(&page, "Sekurel Build");
    EXPECT_TRUE(Args().contains("\nmy dir/app.csf\n"));
}

TEST_F(BuildPage, MissingToolIsReportedWithTheCommandLine) {
    ::setenv("PATH", tools.Path().c_str(), 1);
    ClickButton(&page, "Sekurel Build");
    ASSERT_EQ(user.messages.size(), 1);
    EXPECT_TRUE(user.messages[0].startsWith("sekurel_build --identifier= --fmt=BIN --output=CSF_APPL  \n"));
    EXPECT_TRUE(user.messages[0].contains("Cannot start sekurel_build"));
}

TEST_F(BuildPage, ProfileIsSortedAndSigningUsesTheSelectedEntry) {
    page.IdentifierField()->setText("zeta");
    ClickButton(&page, "Add to Profile");
    EXPECT_EQ(user.messages, QStringList{"Please enable the Profile setting first"});
    EXPECT_EQ(page.ProfileList()->count(), 0);

    QTest::mouseClick(page.EnableProfileBox(), Qt::LeftButton);
    EXPECT_TRUE(page.ProfileList()->isEnabled());
    for (const char* id : {"beta", "Alpha", "", "beta"}) {
        page.IdentifierField()->setText(id);
        ClickButton(&page, "Add to Profile");
    }
    QStringList entries;
    for (int i = 0; i < page.ProfileList()->count(); ++i) {
        entries << page.ProfileList()->itemText(i);
    }
    EXPECT_EQ(entries, (QStringList{"", "Alpha", "beta", "beta"}));
    EXPECT_EQ(page.IdentifierField()->text(), "beta");

    // Nothing selected: nothing runs.
    InstallTool();
    user.messages.clear();
    ClickButton(&page, "Sekurel Build");
    ASSERT_EQ(user.messages.size(), 1);
    EXPECT_FALSE(user.messages[0].startsWith("sekurel_build"));
    EXPECT_FALSE(sealbench::test::Exists(tools / "args"));

    page.ProfileList()->setCurrentIndex(1);
    page.IdentifierField()->setText("typed");
    ClickButton(&page, "Sekurel Build");
    EXPECT_TRUE(Args().startsWith("--identifier=Alpha\n"));

    QTest::mouseClick(page.EnableProfileBox(), Qt::LeftButton);
    EXPECT_FALSE(page.ProfileList()->isEnabled());
    EXPECT_EQ(page.ProfileList()->count(), 4);
}

TEST_F(BuildPage, CombineReportsItsChecksAndWritesTheImage) {
    sealbench::test::TempDir dir;
    ClickButton(&page, "Combine");
    EXPECT_EQ(user.messages.last(), "Please Enter target location");

    sealbench::test::WriteBytes(dir / "os.bin", std::vector<uint8_t>(0x100, 1));
    sealbench::test::WriteBytes(dir / "csf.bin", std::vector<uint8_t>(0x10, 2));
    sealbench::test::WriteBytes(dir / "hwc.bin", std::vector<uint8_t>(0x0C, 3));
    page.TargetField()->setText(QString::fromStdString(dir / "out.bin"));
    page.OsField()->setText(QString::fromStdString(dir / "os.bin"));
    page.SignedCsfField()->setText(QString::fromStdString(dir / "csf.bin"));
    ClickButton(&page, "Combine");
    EXPECT_TRUE(user.messages.last().startsWith("File Construction Error"));
    EXPECT_EQ(user.captions.last(), "error");
    EXPECT_FALSE(sealbench::test::Exists(dir / "out.bin"));

    page.HwcField()->setText(QString::fromStdString(dir / "hwc.bin"));
    ClickButton(&page, "Combine");
    EXPECT_EQ(user.messages.last(), "Complete!");
    EXPECT_EQ(sealbench::test::ReadBytes(dir / "out.bin").size(), 0x4100u);
}

}  // namespace

namespace {

TEST(BuildPageFiles, CombineRefusesToWriteOverAnInput) {
    CPage_Build page;
    sealbench::test::FakeUser user;
    page.SetPrompts(user.Prompts());
    sealbench::test::TempDir dir;
    sealbench::test::WriteBytes(dir / "os.bin", std::vector<uint8_t>(0x100, 0x33));
    sealbench::test::WriteBytes(dir / "csf.bin", std::vector<uint8_t>(0x80, 0x22));
    sealbench::test::WriteBytes(dir / "hwc.bin", std::vector<uint8_t>(0x10, 0x11));
    page.OsField()->setText(QString::fromStdString(dir / "os.bin"));
    page.SignedCsfField()->setText(QString::fromStdString(dir / "csf.bin"));
    page.HwcField()->setText(QString::fromStdString(dir / "hwc.bin"));
    page.TargetField()->setText(QString::fromStdString(dir / "os.bin"));
    ClickButton(&page, "Combine");
    ASSERT_EQ(user.messages.size(), 1);
    EXPECT_TRUE(user.messages[0].startsWith("File Construction Error")) << user.messages[0].toStdString();
    EXPECT_TRUE(user.messages[0].contains("is the input file")) << user.messages[0].toStdString();
    EXPECT_EQ(sealbench::test::ReadBytes(dir / "os.bin"), std::vector<uint8_t>(0x100, 0x33));
}

}  // namespace
