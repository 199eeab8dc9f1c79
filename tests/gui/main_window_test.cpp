// The main window as a person meets it: its initial state, the choices at the top,
// the menu with the about box, and the keys that close it or do not.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>

#include "app/about_dlg.h"
#include "app/sealbench_app.h"
#include "gui_test_util.h"

using gui_test::Choose;
using gui_test::LogLines;
using gui_test::NextModal;

namespace {

constexpr char kNowhere[] = "Virtual board (nowhere)";

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        qunsetenv("BOOTWIRE_USB_SIM");
        window = std::make_unique<CSealbenchDlg>(
            std::vector<CSealbenchDlg::ExtraPort>{{kNowhere, "/nonexistent/sealbench-test-tty"}});
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        page = window->DownloadPage();
        ports = window->findChild<QComboBox*>("portList");
        types = window->findChild<QComboBox*>("typeList");
        usb = window->findChild<QCheckBox*>("usbBox");
        ASSERT_TRUE(page && ports && types && usb);
    }

    template <class T = QWidget>
    T* PageChild(const char* name) {
        T* child = page->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    // Chooses a list entry and returns the text of the message box it brings up, if any.
    QString ChooseAndCatchMessage(QComboBox* list, int index) {
        QString text;
        NextModal<QMessageBox> answer([&](QMessageBox* box) {
            text = box->text();
            box->accept();
        });
        Choose(list, index);
        return text;
    }

    std::unique_ptr<CSealbenchDlg> window;
    CPage_Debug* page = nullptr;
    QComboBox* ports = nullptr;
    QComboBox* types = nullptr;
    QCheckBox* usb = nullptr;
};

TEST_F(MainWindowTest, InitialStateOfTheWindow) {
    EXPECT_EQ(window->windowTitle(), "Sealbench");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window->windowIcon().isNull());

    ASSERT_EQ(window->TabHost()->GetPageCount(), 1);
    QString label;
    window->TabHost()->GetPageLabel(0, &label);
    EXPECT_EQ(label, "Download");
    EXPECT_EQ(window->TabHost()->GetPage(0), page);
    EXPECT_EQ(window->TabHost()->GetPageId(0), 0);

    // Neither list shows a choice; the port list starts with its empty entry.
    EXPECT_EQ(ports->currentIndex(), -1);
    EXPECT_EQ(ports->itemText(0), "");
    EXPECT_GE(ports->findText(kNowhere), 1);
    EXPECT_EQ(types->currentIndex(), -1);
    ASSERT_EQ(types->count(), 3);
    EXPECT_EQ(types->itemText(0), "VireoB");
    EXPECT_EQ(types->itemText(1), "VireoC_TO1");
    EXPECT_EQ(types->itemText(2), "VireoC_TO2");

    // No USB device here: the box is clear and usable, the serial list too.
    EXPECT_FALSE(usb->isChecked());
    EXPECT_TRUE(usb->isEnabled());
    EXPECT_TRUE(ports->isEnabled());
    EXPECT_EQ(window->Connection().portIndex, -1);
    EXPECT_FALSE(window->Connection().usb);

    // The dialog's OK and Cancel exist but are hidden.
    int hiddenButtons = 0;
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if ((button->text() == "OK" || button->text() == "Cancel") && button->isHidden()) ++hiddenButtons;
    }
    EXPECT_EQ(hiddenButtons, 2);
}

TEST_F(MainWindowTest, InitialStateOfTheDownloadPage) {
    EXPECT_TRUE(PageChild<QCheckBox>("downloadOnlyBox")->isChecked());
    EXPECT_FALSE(PageChild<QCheckBox>("flashingBox")->isChecked());
    EXPECT_TRUE(PageChild<QCheckBox>("ddrBox")->isChecked());
    EXPECT_FALSE(PageChild<QCheckBox>("sdramBox")->isChecked());
    EXPECT_FALSE(PageChild<QCheckBox>("secureBox")->isChecked());
    auto* defaultBox = PageChild<QCheckBox>("defaultBox");
    EXPECT_TRUE(defaultBox->isChecked());
    EXPECT_TRUE(defaultBox->isEnabled());
    EXPECT_EQ(defaultBox->text(), "RAM Appl Start at 0x80004000");
    EXPECT_EQ(PageChild<QLabel>("addressLabel")->text(), "RAM Appl Start at 0x");

    auto* flashTypes = PageChild<QComboBox>("flashTypeList");
    EXPECT_EQ(flashTypes->currentText(), "NOR (S71WS256ND0)");
    EXPECT_EQ(flashTypes->itemText(1), "NAND (K9K1G08U0B)");
    EXPECT_EQ(flashTypes->itemText(2), "USER INPUT");
    EXPECT_FALSE(flashTypes->isEnabled());
    for (const char* name :
         {"addressEdit", "partitionEdit", "flashLibEdit", "flashLibBrowse", "memInitEdit", "memInitBrowse"})
        EXPECT_FALSE(PageChild(name)->isEnabled()) << name;
    EXPECT_TRUE(PageChild("imageEdit")->isEnabled());
    EXPECT_TRUE(PageChild("executeButton")->isEnabled());
    EXPECT_EQ(PageChild<QLabel>("progressLabel")->text(), "Status:");
    EXPECT_TRUE(PageChild<QPlainTextEdit>("statusLog")->toPlainText().isEmpty());

    // The debug controls are part of the page and never shown.
    EXPECT_EQ(PageChild<QGroupBox>("debugFrame")->title(),
              "For debug only on development or Sekurel disable type silicon");
    for (const char* name : {"debugFrame", "readButton", "memInitButton", "sekurelButton", "readAddressEdit"})
        EXPECT_FALSE(PageChild(name)->isVisible()) << name;
    EXPECT_EQ(PageChild<QPushButton>("sekurelButton")->text(), "Check Sekurel Status");
    EXPECT_EQ(PageChild<QPushButton>("memInitButton")->text(), "Mem Init?");
}

TEST_F(MainWindowTest, MenuEndsWithTheAboutItemAndTheAboutBoxReturnsUnchanged) {
    auto* menuBar = window->findChild<QMenuBar*>();
    ASSERT_NE(menuBar, nullptr);
    ASSERT_FALSE(menuBar->actions().isEmpty());
    QMenu* menu = menuBar->actions().first()->menu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> items = menu->actions();
    ASSERT_GE(items.size(), 2);
    EXPECT_EQ(items.last()->text(), "&About VireoB_Sealbench...");
    EXPECT_TRUE(items[items.size() - 2]->isSeparator());

    QString title;
    QStringList lines;
    NextModal<CAboutDlg> answer([&](CAboutDlg* about) {
        title = about->windowTitle();
        for (QLabel* label : about->findChildren<QLabel*>()) lines << label->text();
        about->accept();
    });
    items.last()->trigger();
    EXPECT_TRUE(answer.Seen());
    EXPECT_EQ(title, "About Sealbench");
    EXPECT_TRUE(lines.contains("Vireo Sealbench ver 2.0"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->TabHost()->GetPageCount(), 1);
}

TEST_F(MainWindowTest, PortBeforeProcessorOpensNothing) {
    const int entry = ports->findText(kNowhere);
    EXPECT_EQ(ChooseAndCatchMessage(ports, entry), "Please select the Vireo version");
    EXPECT_EQ(ports->currentIndex(), 0);
    EXPECT_EQ(window->Connection().portIndex, -1);
}

TEST_F(MainWindowTest, PortThatCannotBeOpened) {
    Choose(types, 2);
    const int entry = ports->findText(kNowhere);
    // The system's message, then why, as the command line says it.
    const QStringList lines = ChooseAndCatchMessage(ports, entry).split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], QString("Cannot Open ") + kNowhere);
    EXPECT_TRUE(lines[1].contains("/nonexistent/sealbench-test-tty")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("No such file or directory")) << lines[1].toStdString();
    EXPECT_EQ(ports->currentIndex(), 0);
    // The chosen index stays, as the list has always kept it.
    EXPECT_EQ(window->Connection().portIndex, entry);
}

TEST_F(MainWindowTest, UsbNotFound) {
    QString text;
    NextModal<QMessageBox> answer([&](QMessageBox* box) {
        text = box->text();
        box->accept();
    });
    qputenv("BOOTWIRE_USB_SIM", "/nonexistent/sealbench-test-usb.sock");
    QTest::mouseClick(usb, Qt::LeftButton);
    qunsetenv("BOOTWIRE_USB_SIM");
    // The system's message, then what the USB look-up found, on the lines after it.
    EXPECT_TRUE(text.startsWith("No USB detected!\nPlease check your USB connection and Try again\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("No deviced found")) << text.toStdString();
    EXPECT_FALSE(usb->isChecked());
    EXPECT_TRUE(usb->isEnabled());
    EXPECT_TRUE(ports->isEnabled());
    EXPECT_FALSE(window->Connection().usb);
}

TEST_F(MainWindowTest, ProcessorTypeSetsCaptionsAndSdram) {
    auto* defaultBox = PageChild<QCheckBox>("defaultBox");
    auto* sdram = PageChild<QCheckBox>("sdramBox");
    Choose(types, 0);
    EXPECT_EQ(defaultBox->text(), "RAM Appl Start at 0xA0004000");
    EXPECT_FALSE(sdram->isEnabled());
    Choose(types, 1);
    EXPECT_EQ(defaultBox->text(), "RAM Appl Start at 0x80004000");
    EXPECT_TRUE(sdram->isEnabled());
}

TEST_F(MainWindowTest, EnterAndEscInsideThePageKeepTheWindowOpenButCloseItOutside) {
    auto* image = PageChild<QLineEdit>("imageEdit");
    image->setFocus();
    ASSERT_TRUE(gui_test::WaitFor([&] { return QApplication::focusWidget() == image; }));
    QTest::keyClick(image, Qt::Key_Escape);
    QTest::keyClick(image, Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(page->isVisible());

    types->setFocus();
    QTest::keyClick(types, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
}

TEST_F(MainWindowTest, ExecuteWithoutProcessorLogsOneLineAndKeepsTheBanner) {
    auto* log = PageChild<QPlainTextEdit>("statusLog");
    auto* execute = PageChild<QPushButton>("executeButton");
    QTest::mouseClick(execute, Qt::LeftButton);
    ASSERT_TRUE(gui_test::WaitFor([&] { return !page->Busy() && execute->isEnabled(); }));
    EXPECT_EQ(LogLines(log), QStringList{"Please select the Vireo version!"});

    // With a type but no port, the banner comes first, then the port check.
    Choose(types, 2);
    QTest::mouseClick(execute, Qt::LeftButton);
    ASSERT_TRUE(gui_test::WaitFor([&] { return !page->Busy() && LogLines(log).size() == 3; }));
    EXPECT_EQ(LogLines(log), (QStringList{"Please select the Vireo version!", "VireoC Sealbench ver 1.3s",
                                          "Error! - Please select the Com port"}));
    EXPECT_TRUE(execute->isEnabled());
}

}  // namespace

namespace {

TEST(MainWindowPages, FurtherPagesGetTabsAfterDownload) {
    qunsetenv("BOOTWIRE_USB_SIM");
    std::vector<CSealbenchDlg::ExtraPage> pages{{"CSF", [] { return std::make_unique<QLabel>("csf page"); }}};
    CSealbenchDlg window({}, pages);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    CTabPageCtrl* tabs = window.TabHost();
    ASSERT_EQ(tabs->GetPageCount(), 2);
    EXPECT_EQ(tabs->GetCurSel(), 0);
    EXPECT_EQ(tabs->GetPageIndex(1), 1);
    EXPECT_TRUE(window.DownloadPage()->isVisible());
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, Qt::NoModifier, tabs->tabBar()->tabRect(1).center());
    EXPECT_TRUE(tabs->GetPage(1)->isVisible());
    EXPECT_FALSE(window.DownloadPage()->isVisible());
}

TEST(MainWindowPages, WithoutAllPagesThePagesAreBuiltButNeverShown) {
    qunsetenv("BOOTWIRE_USB_SIM");
    std::vector<CSealbenchDlg::ExtraPage> pages{{"CSF", [] { return std::make_unique<QLabel>("csf page"); }}};
    CSealbenchDlg window({}, pages, nullptr, false);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.TabHost()->GetPageCount(), 1);
    // The page and the two placeholder dialogs ("Image Combine", "Debug").
    ASSERT_EQ(window.UnshownPages().size(), 3u);
    for (const auto& page : window.UnshownPages()) {
        EXPECT_FALSE(page->isVisible());
    }
    EXPECT_EQ(window.UnshownPages()[1]->findChild<QLabel*>()->text(), "Image Combine");
    EXPECT_EQ(window.UnshownPages()[2]->findChild<QLabel*>()->text(), "Debug");
}

TEST(StartUp, AVirtualBoardThatCannotStartEndsTheProgramWithAFailure) {
    CSealbenchApp::Options options;
    options.simulate = "VireoC_TO2";
    options.simulatorPath = "/nonexistent/vireo-sim";
    CSealbenchApp app(options);
    EXPECT_EQ(app.CreateMainWindow(), nullptr);
    EXPECT_EQ(app.ExitCode(), 1);
}

TEST_F(MainWindowTest, TabReachesEveryControlOfThePageAndTheChoices) {
    // FLASHING with USER INPUT enables the most controls at once.
    PageChild<QCheckBox>("flashingBox")->click();
    Choose(PageChild<QComboBox>("flashTypeList"), 2);
    PageChild<QCheckBox>("ddrBox")->click();  // clears both boxes: the script field opens
    QSet<QWidget*> expected{ports, types, usb};
    for (QWidget* child : page->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(child) || qobject_cast<QComboBox*>(child) ||
                             qobject_cast<QLineEdit*>(child) || qobject_cast<QPlainTextEdit*>(child);
        if (control && child->isEnabled() && child->isVisibleTo(page)) expected.insert(child);
    }
    ASSERT_GT(expected.size(), 12);

    ports->setFocus(Qt::OtherFocusReason);
    QSet<QWidget*> reached;
    QStringList order;
    for (int i = 0; i < 2 * expected.size() && reached != expected; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        ASSERT_NE(now, nullptr);
        reached.insert(now);
        order << now->objectName();
    }
    for (QWidget* widget : expected) {
        EXPECT_TRUE(reached.contains(widget))
            << widget->objectName().toStdString() << " not reached; order: " << order.join(", ").toStdString();
    }
    // Shift+Tab from the first choice goes back into the page, to its last control.
    ports->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(ports, Qt::Key_Backtab);
    EXPECT_TRUE(page->isAncestorOf(QApplication::focusWidget()));
}

TEST_F(MainWindowTest, AtItsSmallestNothingClipsOrOverlaps) {
    window->resize(200, 150);
    QTRY_VERIFY(window->width() > 200 && window->height() > 150);
    QApplication::processEvents();
    const QSize smallest = window->size();
    EXPECT_GE(smallest.width(), window->minimumSizeHint().width());
    // Every label shows its whole text; the page's groups stand apart and inside the page.
    for (QLabel* label : page->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(page)) continue;
        EXPECT_GE(label->width(), label->minimumSizeHint().width()) << label->text().toStdString();
        EXPECT_GE(label->height(), label->minimumSizeHint().height()) << label->text().toStdString();
    }
    QList<QGroupBox*> groups;
    for (QGroupBox* group : page->findChildren<QGroupBox*>()) {
        if (!group->isVisibleTo(page)) continue;
        EXPECT_TRUE(page->rect().contains(group->geometry())) << group->title().toStdString();
        for (QGroupBox* other : groups) {
            EXPECT_FALSE(group->geometry().intersects(other->geometry()))
                << group->title().toStdString() << " / " << other->title().toStdString();
        }
        groups << group;
    }
    EXPECT_TRUE(window->TabHost()->rect().contains(page->geometry()));
}

}  // namespace
