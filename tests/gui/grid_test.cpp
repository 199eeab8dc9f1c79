// The grid as the CSF and HWC pages use it, driven through real events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include "grid/grid_ctrl.h"

namespace {

// A grid set up the way the pages set theirs up: a read-only header row and two
// data rows, editable, 16-pixel rows.
class GridTest : public ::testing::Test {
protected:
    void SetUp() override {
        grid.resize(400, 200);
        grid.SetDefCellHeight(16);
        grid.SetEditable(true);
        for (int i = 0; i < 3; ++i) {
            const int column = grid.InsertColumn(QString(), Qt::AlignCenter);
            grid.SetColumnWidth(column, 80);
        }
        grid.InsertRow(QString());
        for (int column = 0; column < 3; ++column) {
            grid.SetItemText(0, column, QStringList{"No.", "Address", "Data"}[column]);
            grid.SetItemState(0, column, kGridCellReadOnly);
        }
        grid.InsertRow("1");
        grid.InsertRow("2");
        grid.show();
        grid.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&grid));
    }

    QPoint CentreOf(int row, int column) { return grid.visualRect(grid.model()->index(row, column)).center(); }

    void DoubleClick(int row, int column) {
        // Qt's test double click is only the second click; a real one starts with a press.
        QTest::mousePress(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CentreOf(row, column));
        QTest::mouseRelease(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CentreOf(row, column));
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CentreOf(row, column));
    }

    QLineEdit* OpenLineEditor() { return grid.viewport()->findChild<QLineEdit*>(); }

    CGridCtrl grid;
};

TEST_F(GridTest, RowsColumnsAndTextsAsThePagesUseThem) {
    EXPECT_EQ(grid.GetRowCount(), 3);
    EXPECT_EQ(grid.GetColumnCount(), 3);
    EXPECT_EQ(grid.GetItemText(0, 1), "Address");
    EXPECT_EQ(grid.GetItemText(2, 0), "2");
    EXPECT_EQ(grid.GetItemText(2, 2), "");
    // Out of range reads give empty texts instead of failing.
    EXPECT_EQ(grid.GetItemText(3, 0), "");
    EXPECT_EQ(grid.GetItemText(0, 3), "");
    EXPECT_EQ(grid.GetItemText(-1, 0), "");
    EXPECT_FALSE(grid.SetItemText(5, 0, "x"));
    EXPECT_EQ(grid.GetCell(9, 9), nullptr);

    EXPECT_EQ(grid.InsertRow("3"), 3);
    EXPECT_EQ(grid.GetRowCount(), 4);
    EXPECT_EQ(grid.rowHeight(3), 16);
    EXPECT_EQ(grid.GetItemFormat(0, 0), Qt::AlignCenter);
}

TEST_F(GridTest, DeleteRowMovesLaterRowsUpAndClearsTheSelection) {
    grid.SetItemText(2, 1, "B8001004");
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CentreOf(1, 1));
    EXPECT_TRUE(grid.IsCellSelected(1, 1));
    EXPECT_TRUE(grid.GetItemState(1, 1) & kGridCellSelected);

    EXPECT_TRUE(grid.DeleteRow(1));
    EXPECT_EQ(grid.GetRowCount(), 2);
    EXPECT_EQ(grid.GetItemText(1, 1), "B8001004");
    EXPECT_FALSE(grid.IsCellSelected(1, 1));
    EXPECT_FALSE(grid.DeleteRow(2));
}

TEST_F(GridTest, ListModeSelectsTheWholeRow) {
    grid.SetListMode(true);
    grid.SetSingleRowSelection(true);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CentreOf(2, 1));
    EXPECT_TRUE(grid.IsCellSelected(2, 0));
    EXPECT_TRUE(grid.IsCellSelected(2, 2));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::ControlModifier, CentreOf(1, 1));
    EXPECT_FALSE(grid.IsCellSelected(2, 0)) << "single-row selection keeps one row";
}

TEST_F(GridTest, DoubleClickEditsAndEnterStores) {
    DoubleClick(1, 1);
    QLineEdit* editor = OpenLineEditor();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "A0000000");
    QTest::keyClick(editor, Qt::Key_Return);
    // The view ends the edit on its next turn of the event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return grid.GetItemText(1, 1) == "A0000000"; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return OpenLineEditor() == nullptr; }));
}

TEST_F(GridTest, EscapeRestoresTheOldText) {
    grid.SetItemText(1, 2, "old");
    DoubleClick(1, 2);
    QLineEdit* editor = OpenLineEditor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "new");
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_EQ(grid.GetItemText(1, 2), "old");
}

TEST_F(GridTest, ReadOnlyCellsAndLockedGridsOpenNoEditor) {
    DoubleClick(0, 1);
    EXPECT_EQ(OpenLineEditor(), nullptr);
    EXPECT_EQ(grid.GetItemText(0, 1), "Address");

    grid.SetEditable(false);
    DoubleClick(1, 1);
    EXPECT_EQ(OpenLineEditor(), nullptr);
}

TEST_F(GridTest, TypingStartsAnEditWithTheCharacterAndAnArrowMovesOn) {
    grid.SetItemText(1, 1, "old");
    grid.setCurrentIndex(grid.model()->index(1, 1));
    QTest::keyClick(&grid, Qt::Key_7);
    QLineEdit* editor = OpenLineEditor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "f");
    EXPECT_EQ(editor->text(), "7f");
    QTest::keyClick(editor, Qt::Key_Down);
    EXPECT_EQ(grid.GetItemText(1, 1), "7f");
    EXPECT_EQ(grid.currentIndex().row(), 2);
    EXPECT_EQ(grid.currentIndex().column(), 1);
}

TEST_F(GridTest, ArrowsStayInsideAnEditStartedByDoubleClickUnlessCtrlIsHeld) {
    DoubleClick(1, 2);
    QLineEdit* editor = OpenLineEditor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "ab");
    QTest::keyClick(editor, Qt::Key_Left);
    ASSERT_EQ(OpenLineEditor(), editor) << "a plain arrow moves the text cursor";
    EXPECT_EQ(editor->cursorPosition(), 1);
    QTest::keyClick(editor, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(grid.GetItemText(1, 2), "ab");
    EXPECT_EQ(grid.currentIndex().row(), 0);
}

TEST_F(GridTest, EditorWidensWithItsTextUpToTheClientWidth) {
    DoubleClick(1, 1);
    QLineEdit* editor = OpenLineEditor();
    ASSERT_NE(editor, nullptr);
    const int narrow = editor->width();
    QTest::keyClicks(editor, QString(20, QChar('W')));
    EXPECT_GT(editor->width(), narrow);
    QTest::keyClicks(editor, QString(200, QChar('W')));
    EXPECT_LE(editor->geometry().right(), grid.viewport()->width());
}

TEST_F(GridTest, TabEndsTheEditAndStores) {
    DoubleClick(2, 1);
    QLineEdit* editor = OpenLineEditor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "12");
    QTest::keyClick(editor, Qt::Key_Tab);
    EXPECT_EQ(grid.GetItemText(2, 1), "12");
}

TEST_F(GridTest, ComboCellPicksFromItsOptions) {
    ASSERT_TRUE(grid.SetCellType<CGridCellCombo>(1, 2));
    auto* combo = dynamic_cast<CGridCellCombo*>(grid.GetCell(1, 2));
    ASSERT_NE(combo, nullptr);
    combo->SetOptions({"KEY2", "KEY3", "KEY4"});
    EXPECT_EQ(dynamic_cast<CGridCellCombo*>(grid.GetCell(1, 1)), nullptr);

    DoubleClick(1, 2);
    auto* editor = grid.viewport()->findChild<QComboBox*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->count(), 3);
    EXPECT_FALSE(editor->isEditable());
    editor->setCurrentIndex(1);
    emit editor->activated(1);
    EXPECT_EQ(grid.GetItemText(1, 2), "KEY3");
}

TEST_F(GridTest, DropDownComboCellTakesTypedText) {
    grid.SetCellType<CGridCellCombo>(2, 2);
    auto* combo = dynamic_cast<CGridCellCombo*>(grid.GetCell(2, 2));
    combo->SetOptions({"KEY2"});
    combo->SetStyle(CGridCellCombo::Style::DropDown);
    DoubleClick(2, 2);
    auto* editor = grid.viewport()->findChild<QComboBox*>();
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(editor->isEditable());
    editor->hidePopup();
    editor->lineEdit()->setFocus();
    editor->setCurrentText("mykey");
    QTest::keyClick(editor->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return grid.GetItemText(2, 2) == "mykey"; }));
}

TEST_F(GridTest, CellTypeChangeKeepsTextAndState) {
    grid.SetItemText(1, 1, "kept");
    grid.SetItemState(1, 1, kGridCellReadOnly);
    grid.SetCellType<CGridCellCombo>(1, 1);
    EXPECT_EQ(grid.GetItemText(1, 1), "kept");
    EXPECT_TRUE(grid.GetItemState(1, 1) & kGridCellReadOnly);
}

TEST_F(GridTest, ExpandLastColumnFillsTheClientArea) {
    const int client = grid.viewport()->width();
    ASSERT_GT(client, 240);
    grid.ExpandLastColumn();
    EXPECT_EQ(grid.GetColumnWidth(0) + grid.GetColumnWidth(1) + grid.GetColumnWidth(2), client);
    EXPECT_EQ(grid.GetColumnWidth(0), 80);

    // Wider than the client area: nothing changes.
    grid.SetColumnWidth(2, client);
    grid.ExpandLastColumn();
    EXPECT_EQ(grid.GetColumnWidth(2), client);

    // The last column with a width above 0 is the one that grows; never column 0.
    grid.SetColumnWidth(1, 0);
    grid.SetColumnWidth(2, 0);
    grid.ExpandLastColumn();
    EXPECT_EQ(grid.GetColumnWidth(0), 80);
}

TEST_F(GridTest, TheLastColumnFollowsTheGridsSizeOnceAsked) {
    // A page asks for the stretch while it is built, before the grid has its size.
    CGridCtrl late;
    for (int i = 0; i < 3; ++i) late.SetColumnWidth(late.InsertColumn(QString()), 60);
    late.InsertRow(QString());
    late.SetItemText(0, 1, QStringLiteral("Starting Address"));
    late.ExpandLastColumn();
    // Wide enough for its header text now.
    EXPECT_GE(late.GetColumnWidth(1), QFontMetrics(late.font()).horizontalAdvance(QStringLiteral("Starting Address")));

    late.resize(500, 200);
    late.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&late));
    const auto total = [&] { return late.GetColumnWidth(0) + late.GetColumnWidth(1) + late.GetColumnWidth(2); };
    EXPECT_EQ(total(), late.viewport()->width());
    EXPECT_FALSE(late.horizontalScrollBar()->isVisible());

    late.resize(700, 200);
    QTRY_COMPARE(total(), late.viewport()->width());
    // Narrower again: the last column gives the room back, down to its own width.
    late.resize(420, 200);
    QTRY_COMPARE(total(), late.viewport()->width());
    EXPECT_FALSE(late.horizontalScrollBar()->isVisible());
    late.resize(120, 200);
    QTRY_COMPARE(late.GetColumnWidth(2), 60);
}

}  // namespace
