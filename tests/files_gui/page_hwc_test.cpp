#include "hwc/qt/page_hwc.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTest>

#include "fake_prompts.h"
#include "file_test_support.h"
#include "grid/grid_ctrl.h"

namespace {

using sealbench::test::ClickButton;

class HwcPage : public ::testing::Test {
protected:
    void SetUp() override {
        page.SetPrompts(user.Prompts());
        page.resize(700, 400);
        page.show();
        page.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    }
    void Add(const QString& address, const QString& data) {
        page.AddressField()->setText(address);
        page.DataField()->setText(data);
        ClickButton(&page, "Add Record");
    }
    CPage_HWC page;
    sealbench::test::FakeUser user;
    sealbench::test::TempDir dir;
};

TEST_F(HwcPage, OpensWithCaptionsAndNoRecords) {
    EXPECT_EQ(page.Grid()->GetRowCount(), 1);
    EXPECT_EQ(page.Grid()->GetItemText(0, 0), "Address");
    EXPECT_EQ(page.Grid()->GetItemText(0, 1), "Data");
    EXPECT_TRUE(page.Grid()->GetItemState(0, 0) & kGridCellReadOnly);
    EXPECT_EQ(page.Grid()->GetColumnWidth(0), 160);
    EXPECT_EQ(page.RecordCount(), 0);
}

TEST_F(HwcPage, AddRecordPadsAndRefuses) {
    Add("1", "ABC");
    EXPECT_EQ(page.RecordCount(), 1);
    EXPECT_EQ(page.Grid()->GetItemText(1, 0), "00000001");
    EXPECT_EQ(page.Grid()->GetItemText(1, 1), "00000ABC");
    EXPECT_TRUE(page.AddressField()->text().isEmpty());
    EXPECT_TRUE(page.DataField()->text().isEmpty());

    Add("123456789", "1");
    EXPECT_EQ(user.messages, QStringList{"Data and Address should be within 8 digits"});
    EXPECT_EQ(page.AddressField()->text(), "123456789");
    EXPECT_EQ(page.DataField()->text(), "1");
    Add("", "1");
    EXPECT_EQ(user.messages.last(), "Please Complete the fields for adding record to config");
    EXPECT_EQ(page.RecordCount(), 1);
    EXPECT_EQ(page.Grid()->GetRowCount(), 2);
}

TEST_F(HwcPage, ExportWritesTheRecordsAndReportsRefusals) {
    Add("1", "ABC");
    Add("53FC0000", "1");
    Add("2", "2");
    // The user edits a cell in place into something that is not hexadecimal.
    page.Grid()->setCurrentIndex(page.Grid()->model()->index(3, 0));
    QTest::keyClick(page.Grid(), Qt::Key_0);
    auto* editor = page.Grid()->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "000000G");
    EXPECT_EQ(editor->text(), "0000000G");
    QTest::keyClick(editor, Qt::Key_Return);
    // The view stores an edit from its event loop.
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.Grid()->GetItemText(3, 0) == "0000000G"; }, 10000));

    page.TargetField()->setText(QString::fromStdString(dir / "out.hwc"));
    ClickButton(&page, "Export");
    EXPECT_EQ(user.messages, (QStringList{"addr is not in Hex format", "HW Config Exported successfully"}));
    EXPECT_EQ(sealbench::test::ReadBytes(dir / "out.hwc"),
              (std::vector<uint8_t>{0x14, 0, 0, 0, 0x01, 0, 0, 0, 0xBC, 0x0A, 0, 0, 0, 0, 0xFC, 0x53, 0x01, 0, 0, 0}));
}

TEST_F(HwcPage, ExportChecksTargetThenRecordsAndNeverClaimsAnEmptyExport) {
    ClickButton(&page, "Export");
    page.TargetField()->setText(QString::fromStdString(dir / "out.hwc"));
    ClickButton(&page, "Export");
    Add("G", "1");
    ClickButton(&page, "Export");
    EXPECT_EQ(user.messages.mid(0, 3),
              (QStringList{"Please Enter target location", "No Config Content found", "addr is not in Hex format"}));
    ASSERT_EQ(user.messages.size(), 4);
    EXPECT_NE(user.messages[3], "HW Config Exported successfully");
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(HwcPage, RemoveTakesTheFirstSelectedRowOnly) {
    Add("1", "1");
    Add("2", "2");
    Add("3", "3");
    auto* selection = page.Grid()->selectionModel();
    selection->select(page.Grid()->model()->index(1, 0), QItemSelectionModel::Select);
    selection->select(page.Grid()->model()->index(2, 0), QItemSelectionModel::Select);
    ClickButton(&page, "Remove");
    EXPECT_EQ(page.RecordCount(), 2);
    EXPECT_EQ(page.Grid()->GetItemText(1, 0), "00000002");
    ClickButton(&page, "Remove");
    EXPECT_EQ(page.RecordCount(), 2);

    // A row whose only selected cell is the data cell stays.
    selection->select(page.Grid()->model()->index(1, 1), QItemSelectionModel::Select);
    ClickButton(&page, "Remove");
    EXPECT_EQ(page.RecordCount(), 2);

    ClickButton(&page, "Remove All");
    EXPECT_EQ(page.RecordCount(), 0);
    EXPECT_EQ(page.Grid()->GetRowCount(), 1);
    EXPECT_EQ(page.Grid()->GetItemText(0, 0), "Address");
}

TEST_F(HwcPage, BrowseFillsTheTargetAndCancelKeepsIt) {
    user.files = {"/tmp/a.bin", ""};
    ClickButton(&page, "Browse");
    EXPECT_EQ(page.TargetField()->text(), "/tmp/a.bin");
    ClickButton(&page, "Browse");
    EXPECT_EQ(page.TargetField()->text(), "/tmp/a.bin");
    EXPECT_EQ(user.titles.first(), "Please select a file for HW Config:");
}

}  // namespace
