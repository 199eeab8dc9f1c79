// The "Download" page's handlers, click by click on the real widgets.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <thread>

#include "download/qt/page_debug.h"
#include "gui_test_util.h"
#include "ui/file_filter.h"

using gui_test::Choose;
using gui_test::LogLines;
using gui_test::NextModal;

namespace {

class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        // No port chosen: the page's runs have no board to talk to.
        page = std::make_unique<CPage_Debug>([] { return sealbench::BoardLink{}; }, session);
        page->InitialState();
        page->resize(700, 560);
        page->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));
        downloadOnly = Child<QCheckBox>("downloadOnlyBox");
        flashing = Child<QCheckBox>("flashingBox");
        flashTypes = Child<QComboBox>("flashTypeList");
        defaultBox = Child<QCheckBox>("defaultBox");
        secure = Child<QCheckBox>("secureBox");
        address = Child<QLineEdit>("addressEdit");
        addressLabel = Child<QLabel>("addressLabel");
        flashLib = Child<QLineEdit>("flashLibEdit");
        flashLibBrowse = Child<QPushButton>("flashLibBrowse");
        partition = Child<QLineEdit>("partitionEdit");
    }

    template <class T>
    T* Child(const char* name) {
        T* child = page->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    // A check box takes clicks on its box and caption only, at its left.
    void Click(QAbstractButton* button) {
        const QPoint at = qobject_cast<QCheckBox*>(button) ? QPoint(8, button->height() / 2) : button->rect().center();
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
    }

    sealbench::Session session;
    std::unique_ptr<CPage_Debug> page;
    QCheckBox *downloadOnly, *flashing, *defaultBox, *secure;
    QComboBox* flashTypes;
    QLineEdit *address, *flashLib, *partition;
    QLabel* addressLabel;
    QPushButton* flashLibBrowse;
};

TEST_F(PageTest, DefaultBoxAndSecurity) {
    page->SelectProcessor(2);
    Click(defaultBox);
    EXPECT_FALSE(defaultBox->isChecked());
    EXPECT_TRUE(address->isEnabled());
    QTest::keyClicks(address, "80008000");
    Click(defaultBox);
    EXPECT_FALSE(address->isEnabled());
    EXPECT_EQ(address->text(), "") << "checking the default box clears the address";

    // "with CSF HWC" forces the default address and locks the field, also after
    // the default box is unchecked again.
    Click(defaultBox);
    ASSERT_TRUE(address->isEnabled());
    Click(secure);
    EXPECT_TRUE(defaultBox->isChecked());
    EXPECT_FALSE(address->isEnabled());
    Click(defaultBox);
    EXPECT_FALSE(defaultBox->isChecked());
    EXPECT_FALSE(address->isEnabled());
    // Unticking security unlocks the field.
    Click(secure);
    EXPECT_TRUE(address->isEnabled());
}

TEST_F(PageTest, FlashingBeforeFlashTypeIsNor) {
    page->SelectProcessor(2);
    Click(flashing);
    EXPECT_TRUE(flashing->isChecked());
    EXPECT_FALSE(downloadOnly->isChecked());
    EXPECT_EQ(page->Model().flashType(), sealbench::FlashType::Nor);
    EXPECT_EQ(defaultBox->text(), "Flash Start at 0xA0000000");
    EXPECT_EQ(addressLabel->text(), "Flash Start at 0x");
    EXPECT_TRUE(flashTypes->isEnabled());
    EXPECT_FALSE(flashLib->isEnabled());

    Click(downloadOnly);
    EXPECT_FALSE(flashing->isChecked());
    EXPECT_EQ(defaultBox->text(), "RAM Appl Start at 0x80004000");
    EXPECT_EQ(addressLabel->text(), "RAM Appl Start at 0x");
    EXPECT_FALSE(flashTypes->isEnabled());
}

TEST_F(PageTest, UserInputThenNor) {
    page->SelectProcessor(1);
    Click(flashing);
    Choose(flashTypes, 2);
    EXPECT_FALSE(defaultBox->isChecked());
    EXPECT_FALSE(defaultBox->isEnabled());
    EXPECT_EQ(defaultBox->text(), "NO default!");
    EXPECT_EQ(addressLabel->text(), "Flash Start at 0x");
    EXPECT_TRUE(flashLib->isEnabled());
    EXPECT_TRUE(flashLibBrowse->isEnabled());
    EXPECT_TRUE(address->isEnabled());

    // With USER INPUT, "with CSF HWC" leaves the address field open.
    Click(secure);
    EXPECT_TRUE(address->isEnabled());
    Click(secure);

    Choose(flashTypes, 0);
    EXPECT_TRUE(defaultBox->isChecked());
    EXPECT_TRUE(defaultBox->isEnabled());
    EXPECT_FALSE(flashLib->isEnabled());
    EXPECT_FALSE(flashLibBrowse->isEnabled());
    EXPECT_FALSE(address->isEnabled());
    EXPECT_EQ(defaultBox->text(), "Flash Start at 0xA0000000");
}

TEST_F(PageTest, NorAfterUserInputThroughTheFlashingBox) {
    page->SelectProcessor(2);
    Click(flashing);
    Choose(flashTypes, 2);
    Click(flashing);  // off
    Click(flashing);  // on again: the confirmed list entry is USER INPUT
    EXPECT_EQ(page->Model().flashType(), sealbench::FlashType::UserInput);
    EXPECT_EQ(defaultBox->text(), "NO default!");
    Choose(flashTypes, 0);
    EXPECT_EQ(page->Model().flashType(), sealbench::FlashType::Nor);
    EXPECT_EQ(defaultBox->text(), "Flash Start at 0xA0000000");
}

TEST_F(PageTest, VireoBCaptions) {
    page->SelectProcessor(0);
    EXPECT_EQ(defaultBox->text(), "RAM Appl Start at 0xA0004000");
    Click(flashing);
    EXPECT_EQ(defaultBox->text(), "Flash Start at 0xC0000000");
    Choose(flashTypes, 2);
    EXPECT_EQ(defaultBox->text(), "No default!");
    Choose(flashTypes, 1);
    EXPECT_EQ(defaultBox->text(), "Flash offset 0x00000000");
    EXPECT_EQ(addressLabel->text(), "Flash offset 0x");
    EXPECT_TRUE(partition->isEnabled());
    Choose(flashTypes, 0);
    EXPECT_FALSE(partition->isEnabled());
    // Choosing the type again shows its RAM caption even while FLASHING with NOR is on.
    page->SelectProcessor(0);
    EXPECT_EQ(defaultBox->text(), "RAM Appl Start at 0xA0004000");
    Choose(flashTypes, 0);
    EXPECT_EQ(defaultBox->text(), "Flash Start at 0xC0000000");
}

TEST_F(PageTest, MemoryInitBoxesExcludeEachOther) {
    auto* ddr = Child<QCheckBox>("ddrBox");
    auto* sdram = Child<QCheckBox>("sdramBox");
    auto* file = Child<QLineEdit>("memInitEdit");
    auto* browse = Child<QPushButton>("memInitBrowse");
    Click(sdram);
    EXPECT_TRUE(sdram->isChecked());
    EXPECT_FALSE(ddr->isChecked());
    EXPECT_FALSE(file->isEnabled());
    Click(sdram);
    EXPECT_FALSE(sdram->isChecked());
    EXPECT_TRUE(file->isEnabled());
    EXPECT_TRUE(browse->isEnabled());
    Click(ddr);
    EXPECT_TRUE(ddr->isChecked());
    EXPECT_FALSE(file->isEnabled());
    EXPECT_FALSE(browse->isEnabled());
}

TEST_F(PageTest, BrowseDialogsHaveTheirTitlesAndFilters) {
    QTemporaryDir folder;
    const QString image = folder.filePath("app.bin");
    QFile(image).open(QIODevice::WriteOnly);

    QString title;
    QStringList filters;
    NextModal<QFileDialog> pick([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        dialog->selectFile(image);
        static_cast<QDialog*>(dialog)->accept();
    });
    Click(Child<QPushButton>("imageBrowse"));
    EXPECT_EQ(title, "Please select the Image File:");
    EXPECT_EQ(filters, (QStringList{"bin files(*.bin)", "nb0 files(*.nb0)", "All Files(*.*)"}));
    EXPECT_EQ(Child<QLineEdit>("imageEdit")->text(), image);

    // Cancel changes nothing.
    NextModal<QFileDialog> cancel([](QFileDialog* dialog) { dialog->reject(); });
    Click(Child<QPushButton>("imageBrowse"));
    EXPECT_TRUE(cancel.Seen());
    EXPECT_EQ(Child<QLineEdit>("imageEdit")->text(), image);

    page->SelectProcessor(2);
    Click(flashing);
    Choose(flashTypes, 2);
    NextModal<QFileDialog> library([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        dialog->reject();
    });
    Click(flashLibBrowse);
    EXPECT_EQ(title, "Please select the Flash Library:");
    EXPECT_EQ(filters, (QStringList{"bin files(*.bin)", "All Files(*.*)"}));

    Click(Child<QCheckBox>("ddrBox"));
    NextModal<QFileDialog> script([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        dialog->reject();
    });
    Click(Child<QPushButton>("memInitBrowse"));
    EXPECT_EQ(title, "Please select the Init Memory File:");
    EXPECT_EQ(filters, QStringList{"Txt Files (*.txt)"});
}

TEST_F(PageTest, LogLinesFromAnotherThreadArriveInOrderAndStayInView) {
    constexpr int kLines = 300;
    std::thread writer([this] {
        for (int i = 0; i < kLines; ++i) sealbench::AppendLog(*page, session, "line " + std::to_string(i) + "\n");
    });
    writer.join();
    auto* log = Child<QPlainTextEdit>("statusLog");
    ASSERT_TRUE(gui_test::WaitFor([&] { return LogLines(log).size() == kLines; }));
    const QStringList lines = LogLines(log);
    EXPECT_EQ(lines.first(), "line 0");
    EXPECT_EQ(lines.last(), "line 299") << "a line's own line feed adds no empty line";
    EXPECT_EQ(session.logLines.load(), kLines);
    QScrollBar* bar = log->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(NameFilters, DialogFiltersFromTheFilterText) {
    EXPECT_EQ(sealbench::NameFiltersOf("bin files(*.bin)|*.bin|All Files(*.*)|*.*||"),
              (QStringList{"bin files(*.bin)", "All Files(*.*)"}));
    EXPECT_EQ(sealbench::NameFiltersOf("Scripts|*.txt;*.ini||"), QStringList{"Scripts (*.txt *.ini)"});
    EXPECT_TRUE(sealbench::NameFiltersOf("").isEmpty());
}

}  // namespace
