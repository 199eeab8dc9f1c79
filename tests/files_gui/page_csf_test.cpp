#include "csf/qt/page_csf.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "csf/qt/page_csf_add_block.h"
#include "fake_prompts.h"
#include "file_test_support.h"
#include "grid/grid_ctrl.h"

namespace {

using sealbench::test::ClickButton;

class CsfPage : public ::testing::Test {
protected:
    void SetUp() override {
        page.SetPrompts(user.Prompts());
        page.SetAddBlockDialog([this]() -> std::optional<CPage_CSF::BlockChoice> {
            if (blockChoices.empty()) {
                return std::nullopt;
            }
            auto choice = blockChoices.front();
            blockChoices.pop_front();
            return choice;
        });
        page.resize(900, 600);
        page.show();
    }
    void AddKeys(const QStringList& paths) {
        user.fileLists.push_back(paths);
        ClickButton(&page, "Add");
    }
    void AddBlocks(const QString& path, const QString& count) {
        blockChoices.push_back({path, count});
        ClickButton(&page, "Add Block");
    }
    void SelectRow(CGridCtrl* grid, int row) {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                          grid->visualRect(grid->model()->index(row, 0)).center());
    }
    QStringList Column(CGridCtrl* grid, int column) {
        QStringList texts;
        for (int row = 1; row < grid->GetRowCount(); ++row) {
            texts << grid->GetItemText(row, column);
        }
        return texts;
    }

    CPage_CSF page;
    sealbench::test::FakeUser user;
    std::deque<CPage_CSF::BlockChoice> blockChoices;
    sealbench::test::TempDir dir;
};

TEST_F(CsfPage, OpensInItsInitialState) {
    EXPECT_EQ(page.UidField()->text(), "SEKUREL_GENERIC_UID");
    EXPECT_FALSE(page.UidField()->isEnabled());
    EXPECT_EQ(page.TypeList()->count(), 2);
    EXPECT_EQ(page.TypeList()->currentText(), "SEKUREL_ENGINEERING");
    EXPECT_EQ(page.CodeField()->text(), "0x");
    EXPECT_EQ(page.KeyGrid()->GetItemText(0, 2), "Full path");
    EXPECT_EQ(page.BlockGrid()->GetItemText(0, 3), "Bytes to sign");
    EXPECT_TRUE(page.BlockGrid()->GetItemState(0, 4) & kGridCellReadOnly);

    QTest::mouseClick(page.UserDefineBox(), Qt::LeftButton);
    EXPECT_EQ(page.UidField()->text(), "0x");
    EXPECT_TRUE(page.UidField()->isEnabled());
    QTest::mouseClick(page.UserDefineBox(), Qt::LeftButton);
    EXPECT_EQ(page.UidField()->text(), "SEKUREL_GENERIC_UID");
}

TEST_F(CsfPage, ValidationInTableOrder) {
    page.SuperRootField()->clear();
    ClickButton(&page, "Execute");
    page.CodeField()->setText("0x1");
    ClickButton(&page, "Execute");
    page.SuperRootField()->setText("s.der");
    page.CsfKeyField()->setText("c.crt");
    ClickButton(&page, "Execute");
    AddKeys({"E:\\certs\\img.crt"});
    ClickButton(&page, "Execute");
    EXPECT_EQ(user.messages, (QStringList{"Please Enter Code in Definition", "Please Super Root in Declaration",
                                          "No Key Found", "No Block Found"}));
    EXPECT_TRUE(user.titles.size() == 1);  // only the key chooser ran
}

TEST_F(CsfPage, KeysChosenOnThisSystemAreNamedByTheirFile) {
    if (!sealbench::kSlashSeparatesFolders) GTEST_SKIP() << "a build whose paths use backslashes";
    AddKeys({"/home/me/keys/img.crt", "E:\\k\\b.crt"});
    EXPECT_EQ(Column(page.KeyGrid(), 1), (QStringList{"img.crt", "b.crt"}));
    EXPECT_EQ(Column(page.KeyGrid(), 2), (QStringList{"/home/me/keys/img.crt", "E:\\k\\b.crt"}));
    EXPECT_EQ(page.Document().keyNames, (std::vector<std::string>{"img.crt", "b.crt"}));
}

TEST_F(CsfPage, KeySerialsGrowWhilePositionsNumberTheFile) {
    AddKeys({"E:\\k\\a.crt", "E:\\k\\b.crt"});
    EXPECT_EQ(Column(page.KeyGrid(), 0), (QStringList{"1", "2"}));
    EXPECT_EQ(Column(page.KeyGrid(), 1), (QStringList{"a.crt", "b.crt"}));
    EXPECT_EQ(Column(page.KeyGrid(), 2), (QStringList{"E:\\k\\a.crt", "E:\\k\\b.crt"}));
    SelectRow(page.KeyGrid(), 1);
    ClickButton(&page, "Remove", 0);
    EXPECT_EQ(page.KeyCount(), 1);
    EXPECT_EQ(Column(page.KeyGrid(), 0), QStringList{"2"});
    EXPECT_EQ(page.Document().keyNames, std::vector<std::string>{"b.crt"});
    auto text = sealbench::CsfText(page.Document());
    EXPECT_NE(text.find("PUBLICKEY_SIG_VERIFY KEY2 CSF_KEY 2\r\n"), std::string::npos);

    ClickButton(&page, "Remove All", 0);
    AddKeys({"c.crt"});
    EXPECT_EQ(Column(page.KeyGrid(), 0), QStringList{"3"});
}

TEST_F(CsfPage, BlockRowsSerialsAndKeyChoices) {
    AddBlocks("E:\\img\\app.s19", "3");
    AddBlocks("E:\\img\\b.bin", "2");
    EXPECT_EQ(Column(page.BlockGrid(), 0), (QStringList{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(Column(page.BlockGrid(), 1), (QStringList{"app.s19", "app.s19", "app.s19", "b.bin", "b.bin"}));
    EXPECT_EQ(Column(page.BlockGrid(), 2), (QStringList{"0x", "0x", "0x", "0x", "0x"}));
    EXPECT_TRUE(page.BlockGrid()->GetItemState(1, 1) & kGridCellReadOnly);
    EXPECT_FALSE(page.BlockGrid()->GetItemState(1, 2) & kGridCellReadOnly);

    // Keys added after the blocks become their choices.
    AddKeys({"E:\\k\\img.crt", "E:\\k\\two.crt"});
    auto* combo = dynamic_cast<CGridCellCombo*>(page.BlockGrid()->GetCell(4, 4));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->GetOptions(), (QStringList{"img.crt", "two.crt"}));
    EXPECT_EQ(combo->GetStyle(), CGridCellCombo::Style::DropDown);

    SelectRow(page.BlockGrid(), 2);
    ClickButton(&page, "Remove", 1);
    EXPECT_EQ(page.BlockCount(), 4);
    EXPECT_EQ(Column(page.BlockGrid(), 0), (QStringList{"1", "3", "4", "5"}));

    ClickButton(&page, "Remove All", 1);
    AddBlocks("E:\\img\\c.bin", "1");
    EXPECT_EQ(Column(page.BlockGrid(), 0), QStringList{"6"});
    EXPECT_EQ(page.Document().blocks.size(), 1u);

    // A cancelled dialog adds nothing.
    ClickButton(&page, "Add Block");
    EXPECT_EQ(page.BlockCount(), 1);
}

TEST_F(CsfPage, KeyCellKeepsItsTextAfterTheKeyGoes) {
    AddKeys({"E:\\k\\img.crt"});
    AddBlocks("x.bin", "1");
    page.BlockGrid()->SetItemText(1, 4, "img.crt");
    SelectRow(page.KeyGrid(), 1);
    ClickButton(&page, "Remove", 0);
    EXPECT_EQ(page.BlockGrid()->GetItemText(1, 4), "img.crt");
    EXPECT_TRUE(dynamic_cast<CGridCellCombo*>(page.BlockGrid()->GetCell(1, 4))->GetOptions().isEmpty());
}

TEST_F(CsfPage, ExecuteWritesTheWorkedExample) {
    page.CodeField()->setText("0x1");
    user.files = {"E:\\certs\\srk.der", "E:\\certs\\csf.crt"};
    ClickButton(&page, "Browse", 0);
    ClickButton(&page, "Browse", 1);
    AddKeys({"E:\\certs\\img.crt"});
    AddBlocks("image.bin", "2");
    page.BlockGrid()->SetItemText(1, 3, "0x400");
    page.BlockGrid()->SetItemText(1, 4, "img.crt");
    page.BlockGrid()->SetItemText(2, 2, "0x1000");
    page.BlockGrid()->SetItemText(2, 3, "0x800");
    page.BlockGrid()->SetItemText(2, 4, "img.crt");
    page.BlockGrid()->SetItemText(1, 2, "0x0");

    user.files = {""};
    ClickButton(&page, "Execute");
    EXPECT_TRUE(dir.Entries().empty());
    user.files = {QString::fromStdString(dir / "sample.csf")};
    ClickButton(&page, "Execute");
    EXPECT_EQ(user.messages.last(), "CSF Saved Successfully!");
    auto lines = sealbench::test::CrLfLines(sealbench::test::ReadText(dir / "sample.csf"));
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[19], "SUPER_ROOT SEKUREL_WTLS_CERTIFICATE srk.der");
    EXPECT_EQ(lines[20], "CSF_KEY SEKUREL_WTLS_CERTIFICATE csf.crt");
    EXPECT_EQ(lines[23], "BLOCK1 image.bin 0x0 0x400");
    EXPECT_EQ(lines[24], "BLOCK2 image.bin 0x1000 0x800");
    EXPECT_EQ(lines[31], "CODE_SIG_VERIFY BLOCK1 BLOCK2 SEKUREL_RSA_SHA1 KEY2");
    EXPECT_EQ(user.titles.last(), "Please select the Working Directory:");

    user.files = {QString::fromStdString(dir / "gone/sample.csf")};
    ClickButton(&page, "Execute");
    EXPECT_NE(user.messages.last(), "CSF Saved Successfully!");
}

TEST_F(CsfPage, LineBreaksAndUnfilledBlocksAreRefusedBeforeTheChooser) {
    page.CodeField()->setText("0x1\nINJECTED_LINE X");
    page.SuperRootField()->setText("s.der");
    page.CsfKeyField()->setText("c.crt");
    AddKeys({"E:\\certs\\img.crt"});
    AddBlocks("image.bin", "1");
    user.files = {QString::fromStdString(dir / "sample.csf")};
    ClickButton(&page, "Execute");
    page.CodeField()->setText("0x1");
    ClickButton(&page, "Execute");  // the new block still reads "0x", "0x"
    EXPECT_EQ(user.messages,
              (QStringList{"The Code holds a control character (a line break, a tab...): it cannot be written into "
                           "the CSF file",
                           "Block 1: the starting address must be a number such as 0x1000 or 4096, not \"0x\""}));
    EXPECT_EQ(user.titles.size(), 1);  // only the key chooser ran
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(CsfAddBlockDialog, RefusesAnEmptyPathAndHandsOverPathAndCount) {
    Page_CSF_AddBlock dialog;
    sealbench::test::FakeUser user;
    dialog.SetPrompts(user.Prompts());
    EXPECT_EQ(dialog.windowTitle(), "Add blocks");
    EXPECT_EQ(dialog.CountList()->count(), 9);
    EXPECT_EQ(dialog.CountList()->currentText(), "1");
    int result = -1;
    QTimer::singleShot(0, &dialog, [&] {
        ClickButton(&dialog, "Add");
        EXPECT_EQ(user.messages, QStringList{"Please select the file first"});
        EXPECT_TRUE(dialog.isVisible());
        dialog.PathField()->setText("E:\\img\\app.s19");
        dialog.CountList()->setCurrentIndex(2);
        ClickButton(&dialog, "Add");
    });
    result = dialog.exec();
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(dialog.Path(), "E:\\img\\app.s19");
    EXPECT_EQ(dialog.Count(), "3");
}

}  // namespace
