// Whole runs from a click on "Execute" against the real vireo-sim process, started
// the way `sealbench --simulate` starts it.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/sealbench_app.h"
#include "gui_test_util.h"

using gui_test::Choose;
using gui_test::LogLines;

namespace {

class RunTest : public ::testing::Test {
protected:
    void TearDown() override {
        app.reset();
        qunsetenv("BOOTWIRE_USB_SIM");
    }

    // Starts the program's window with a virtual board of VireoC_TO2.
    void Start(bool usb, QStringList simulatorArguments = {}) {
        qunsetenv("BOOTWIRE_USB_SIM");
        CSealbenchApp::Options options;
        options.simulate = "VireoC_TO2";
        options.simulateUsb = usb;
        options.simulatorArguments = simulatorArguments;
        app = std::make_unique<CSealbenchApp>(options);
        window = app->CreateMainWindow();
        ASSERT_NE(window, nullptr) << "vireo-sim did not start";
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        page = window->DownloadPage();
        log = page->findChild<QPlainTextEdit*>("statusLog");
        bar = page->findChild<QProgressBar*>("progressBar");
        caption = page->findChild<QLabel*>("progressLabel");
        execute = page->findChild<QPushButton*>("executeButton");
        // Every caption the run shows, in order, as the GUI thread receives it.
        QObject::connect(
            page, &CPage_Debug::progressCaption, window, [this](const QString& text) { captions << text; },
            Qt::QueuedConnection);
    }

    // Chooses VireoC_TO2 and the virtual board's port; no message box may come up.
    void ChooseBoard() {
        bool message = false;
        gui_test::NextModal<QMessageBox> unexpected([&](QMessageBox* box) {
            message = true;
            ADD_FAILURE() << "message box: " << box->text().toStdString();
            box->accept();
        });
        Choose(window->findChild<QComboBox*>("typeList"), 2);
        auto* ports = window->findChild<QComboBox*>("portList");
        const int entry = ports->findText("Virtual board (VireoC_TO2)");
        ASSERT_GT(entry, 0);
        Choose(ports, entry);
        EXPECT_FALSE(message);
        EXPECT_EQ(window->Connection().portIndex, entry);
    }

    QString WriteImage(int size) {
        const QString path = folder.filePath("image.bin");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13) ^ (i >> 8));
        file.write(bytes);
        return path;
    }

    // Clicks "Execute" and waits for the run to end, counting the turns of the GUI
    // thread's event loop meanwhile.
    int ExecuteAndWait() {
        int turns = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++turns; });
        ticker.start(0);
        QTest::mouseClick(execute, Qt::LeftButton);
        EXPECT_FALSE(execute->isEnabled()) << "Execute is off while the run goes";
        EXPECT_TRUE(page->Busy());
        // A second click during the run starts nothing.
        QTest::mouseClick(execute, Qt::LeftButton);
        EXPECT_TRUE(gui_test::WaitFor([&] { return !page->Busy(); }, gui_test::kRunTimeoutMs));
        ticker.stop();
        QTest::qWait(20);  // the last queued reports
        return turns;
    }

    std::unique_ptr<CSealbenchApp> app;
    CSealbenchDlg* window = nullptr;
    CPage_Debug* page = nullptr;
    QPlainTextEdit* log = nullptr;
    QProgressBar* bar = nullptr;
    QLabel* caption = nullptr;
    QPushButton* execute = nullptr;
    QStringList captions;
    QTemporaryDir folder;
};

TEST_F(RunTest, DownloadOnlyOverThePacedSerialLineKeepsTheWindowResponsive) {
    Start(false, {"--pace"});
    ChooseBoard();
    page->findChild<QLineEdit*>("imageEdit")->setText(WriteImage(12 * 1024));

    const int turns = ExecuteAndWait();
    EXPECT_EQ(LogLines(log), (QStringList{"VireoC Sealbench ver 1.3s", "UART is using",
                                          "Downloading Complete - Program executing at 0x80004000"}));
    EXPECT_TRUE(execute->isEnabled());
    EXPECT_EQ(caption->text(), "Downloading:");
    EXPECT_EQ(bar->value(), bar->maximum());
    // The memory initialisation and the paced download took the GUI thread nowhere.
    EXPECT_GT(turns, 100);
}

TEST_F(RunTest, FlashingNorRunsToCompletion) {
    Start(false);
    ChooseBoard();
    page->findChild<QCheckBox*>("flashingBox")->click();
    page->findChild<QLineEdit*>("imageEdit")->setText(WriteImage(64 * 1024));

    ExecuteAndWait();
    const QStringList lines = LogLines(log);
    EXPECT_EQ(lines, (QStringList{"VireoC Sealbench ver 1.3s", "UART is using", "Flashing Completed"}));
    EXPECT_EQ(bar->value(), bar->maximum());
    // The bar says what the last stage did: "100%  64 KiB in 0:00".
    EXPECT_TRUE(bar->isTextVisible());
    EXPECT_EQ(bar->text().left(4), "100%") << bar->text().toStdString();
    EXPECT_TRUE(bar->text().contains("64 KiB in ")) << bar->text().toStdString();
    // Under the bar, the run as a whole: what went where, and how long it all took.
    const QString summary = page->findChild<QLabel*>("runSummary")->text();
    EXPECT_TRUE(summary.startsWith("Flashed 64.0 KiB") || summary.startsWith("Flashed 64 KiB"))
        << summary.toStdString();
    // The captions follow the run's phases in their order. The progress task looks at
    // the phase when it wakes, so on a busy machine it may miss a short one.
    ASSERT_FALSE(captions.isEmpty());
    const QStringList order{"Downloading:", "Start Flashing:", "Flash Erase:", "Flash Program:", "Flash Verify:"};
    int last = -1;
    for (const QString& text : captions) {
        const int at = order.indexOf(text);
        ASSERT_GE(at, last) << text.toStdString();
        last = at;
    }

    // A second run (one that does not need the board back in its boot ROM yet): the
    // banner does not come again.
    page->findChild<QCheckBox*>("ddrBox")->click();
    page->findChild<QLineEdit*>("imageEdit")->setText(folder.filePath("missing.bin"));
    ExecuteAndWait();
    QStringList again = LogLines(log).mid(3);
    // Refused before the memory initialisation: nothing goes to the board.
    ASSERT_EQ(again.size(), 2);
    EXPECT_EQ(again[0], "Error!!- Reason: Can't open the Image File");
    EXPECT_TRUE(again[1].contains("missing.bin cannot be read: No such file or directory")) << again[1].toStdString();
    // Nothing of the first run's full bar and last caption stays after a failed run.
    EXPECT_EQ(caption->text(), "Status:");
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(bar->text().isEmpty()) << bar->text().toStdString();
}

TEST_F(RunTest, TheStatusTimeoutComesFromTheWindowMenu) {
    Start(false);
    QMenu* menu = window->findChild<QMenu*>("statusTimeoutMenu");
    ASSERT_NE(menu, nullptr);
    QAction* byLibrary = window->findChild<QAction*>("statusTimeout0");
    QAction* fiveMinutes = window->findChild<QAction*>("statusTimeout300");
    ASSERT_NE(byLibrary, nullptr);
    ASSERT_NE(fiveMinutes, nullptr);
    EXPECT_TRUE(byLibrary->isChecked()) << "as the library needs, by default";
    EXPECT_EQ(page->CurrentSettings().statusSilenceLimit, std::chrono::milliseconds(0));
    fiveMinutes->trigger();
    EXPECT_TRUE(fiveMinutes->isChecked());
    EXPECT_FALSE(byLibrary->isChecked());
    EXPECT_EQ(page->CurrentSettings().statusSilenceLimit, std::chrono::minutes(5));
}

TEST_F(RunTest, FastSerialFlashingFromTheWindowMenu) {
    Start(false, {"--dump-flash", folder.filePath("flash.out")});
    ChooseBoard();
    QAction* fast = window->findChild<QAction*>("fastFlashingAction");
    ASSERT_NE(fast, nullptr);
    EXPECT_EQ(fast->text(), "Fast serial flashing");
    EXPECT_TRUE(fast->isCheckable());
    EXPECT_FALSE(fast->isChecked()) << "the normal run is the default";
    fast->trigger();
    EXPECT_TRUE(page->FastSerialFlashing());
    page->findChild<QCheckBox*>("flashingBox")->click();
    const QString image = WriteImage(64 * 1024);
    page->findChild<QLineEdit*>("imageEdit")->setText(image);

    ExecuteAndWait();
    const QStringList lines = LogLines(log);
    ASSERT_EQ(lines.size(), 4) << lines.join("|").toStdString();
    EXPECT_EQ(lines[1], "UART is using");
    EXPECT_TRUE(lines[2].startsWith("Image verified: ")) << lines[2].toStdString();
    EXPECT_EQ(lines[3], "Flashing Completed");
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(captions.contains("Downloading:"));

    // Unchecked again, the next run is a normal one.
    fast->trigger();
    EXPECT_FALSE(page->FastSerialFlashing());
    page->findChild<QLineEdit*>("imageEdit")->setText(folder.filePath("missing.bin"));
    ExecuteAndWait();
    const QStringList normal = LogLines(log).mid(4);
    ASSERT_GE(normal.size(), 1) << normal.join("|").toStdString();
    EXPECT_EQ(normal[0], "Error!!- Reason: Can't open the Image File");

    app.reset();  // the board writes its flash out as it ends
    QFile dump(folder.filePath("flash.out"));
    ASSERT_TRUE(dump.open(QIODevice::ReadOnly));
    QFile written(image);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray expected = written.readAll();
    EXPECT_EQ(dump.read(expected.size()), expected);
}

TEST_F(RunTest, VerifyAndEraseFromTheWindowMenuActOnThePagesSettings) {
    Start(false);
    ChooseBoard();
    window->findChild<QAction*>("fastFlashingAction")->trigger();
    page->findChild<QCheckBox*>("flashingBox")->click();
    page->findChild<QLineEdit*>("imageEdit")->setText(WriteImage(64 * 1024));
    ExecuteAndWait();
    auto run = [&](const char* action) {
        const int before = static_cast<int>(LogLines(log).size());
        window->findChild<QAction*>(action)->trigger();
        EXPECT_TRUE(gui_test::WaitFor([&] { return !page->Busy(); }, gui_test::kRunTimeoutMs));
        QTest::qWait(20);  // the last queued reports
        return LogLines(log).mid(before);
    };
    EXPECT_EQ(run("verifyAction").last(), "Verify Completed");

    gui_test::NextModal<QMessageBox> confirm([](QMessageBox* box) {
        EXPECT_EQ(box->objectName(), "eraseConfirm");
        box->button(QMessageBox::Yes)->click();
    });
    const QStringList erased = run("eraseAction");
    EXPECT_TRUE(confirm.Seen());
    EXPECT_EQ(erased,
              (QStringList{"UART is using", "Erased 0xA0000000-0xA000FFFF: 2 sectors of NOR flash", "Erase Completed"}))
        << erased.join("|").toStdString();

    const QStringList differs = run("verifyAction");
    ASSERT_GE(differs.size(), 2) << differs.join("|").toStdString();
    EXPECT_EQ(differs[differs.size() - 2], "Error!!- Reason: The flash differs from the image in 16 blocks of 16");
    EXPECT_EQ(differs.last(), "differs: 0xA0000000-0xA000FFFF");
}

TEST_F(RunTest, MissingImageEndsTheRunWithItsReason) {
    Start(false);
    ChooseBoard();
    page->findChild<QLineEdit*>("imageEdit")->setText(folder.filePath("missing.bin"));
    ExecuteAndWait();
    // Refused before the memory initialisation: no "UART is using", nothing sent.
    const QStringList lines = LogLines(log);
    ASSERT_EQ(lines.size(), 3) << lines.join("\n").toStdString();
    EXPECT_EQ(lines[1], "Error!!- Reason: Can't open image file!");
    // The next line names the file and the system's reason.
    EXPECT_EQ(lines[2],
              "The image file " + folder.filePath("missing.bin") + " cannot be read: No such file or directory");
    EXPECT_TRUE(execute->isEnabled());
}

TEST_F(RunTest, HiddenDebugButtonsWorkOnTheBoard) {
    Start(false);
    ChooseBoard();
    auto waitLines = [&](int count) {
        return gui_test::WaitFor([&] { return !page->Busy() && LogLines(log).size() == count; });
    };
    page->findChild<QPushButton*>("memInitButton")->click();
    ASSERT_TRUE(waitLines(1));
    EXPECT_EQ(LogLines(log).last(), "Memory Init Done - ");

    // The DDR preset's last write leaves 0xDEADBEEF at the start of RAM.
    page->findChild<QLineEdit*>("readAddressEdit")->setText("80000000");
    page->findChild<QPushButton*>("readButton")->click();
    ASSERT_TRUE(waitLines(2));
    EXPECT_EQ(LogLines(log).last(), "Register/Memory 0x80000000 : 0xdeadbeef");

    page->findChild<QPushButton*>("sekurelButton")->click();
    ASSERT_TRUE(waitLines(3));
    EXPECT_TRUE(LogLines(log).last().startsWith("Init Sekurel status from ROM: 0x"));
    EXPECT_TRUE(execute->isEnabled());
}

TEST_F(RunTest, UsbBoardFoundAtStartUp) {
    Start(true);
    auto* usb = window->findChild<QCheckBox*>("usbBox");
    EXPECT_TRUE(usb->isChecked());
    EXPECT_FALSE(usb->isEnabled());
    EXPECT_FALSE(window->findChild<QComboBox*>("portList")->isEnabled());
    EXPECT_TRUE(window->Connection().usb);

    Choose(window->findChild<QComboBox*>("typeList"), 2);
    page->findChild<QLineEdit*>("imageEdit")->setText(WriteImage(8 * 1024));
    ExecuteAndWait();
    EXPECT_EQ(LogLines(log), (QStringList{"VireoC Sealbench ver 1.3s", "USB is using",
                                          "Downloading Complete - Program executing at 0x80004000"}));
}

TEST_F(RunTest, ResetVirtualBoardBringsItBackToItsBootRom) {
    Start(false);
    ChooseBoard();
    // A random image run from RAM leaves the board deaf to the boot ROM's commands.
    page->findChild<QLineEdit*>("imageEdit")->setText(WriteImage(4 * 1024));
    ExecuteAndWait();
    ASSERT_EQ(LogLines(log).last(), "Downloading Complete - Program executing at 0x80004000");

    auto* memInit = page->findChild<QPushButton*>("memInitButton");
    memInit->click();
    ASSERT_TRUE(gui_test::WaitFor([&] { return !page->Busy() && LogLines(log).size() > 4; }, gui_test::kRunTimeoutMs));
    // The window's log says what happened and what to do, as the command line does.
    EXPECT_EQ(LogLines(log).mid(3, 2),
              (QStringList{"Error! - DDR memory init error",
                           "the board did not answer: is it in boot-ROM download mode? reset it and retry"}));

    QAction* reset = window->findChild<QAction*>("resetBoardAction");
    ASSERT_NE(reset, nullptr);
    reset->trigger();
    // The board takes the reset on its own time: a few tries, each bounded.
    bool done = false;
    for (int attempt = 0; attempt < 3 && !done; ++attempt) {
        const int before = static_cast<int>(LogLines(log).size());
        memInit->click();
        ASSERT_TRUE(
            gui_test::WaitFor([&] { return !page->Busy() && LogLines(log).size() > before; }, gui_test::kRunTimeoutMs));
        done = LogLines(log).last() == "Memory Init Done - ";
    }
    EXPECT_TRUE(done) << LogLines(log).join("\n").toStdString();
}

TEST_F(RunTest, ARunKeepsItsBoardAndClosingTheWindowStopsIt) {
    Start(false, {"--pace"});
    ChooseBoard();
    page->findChild<QCheckBox*>("flashingBox")->click();
    page->findChild<QLineEdit*>("imageEdit")->setText(WriteImage(256 * 1024));
    auto* ports = window->findChild<QComboBox*>("portList");
    auto* types = window->findChild<QComboBox*>("typeList");
    auto* usb = window->findChild<QCheckBox*>("usbBox");
    QTest::mouseClick(execute, Qt::LeftButton);
    ASSERT_TRUE(gui_test::WaitFor([&] { return caption->text() == "Downloading:"; }, gui_test::kRunTimeoutMs));
    // No choice may take the board from the run.
    EXPECT_FALSE(ports->isEnabled());
    EXPECT_FALSE(types->isEnabled());
    EXPECT_FALSE(usb->isEnabled());

    // The close box asks first; "No" keeps the run going.
    gui_test::NextModal<QMessageBox> keep([](QMessageBox* box) {
        EXPECT_EQ(box->text(), "A run is in progress.\nStop it and close Sealbench?");
        box->button(QMessageBox::No)->click();
    });
    window->close();
    ASSERT_TRUE(gui_test::WaitFor([&] { return keep.Seen(); }));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(page->Busy());

    // "Yes" stops it at its next send: the window goes, and the log says why.
    gui_test::NextModal<QMessageBox> stop([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    window->close();
    EXPECT_TRUE(stop.Seen());
    EXPECT_FALSE(window->isVisible());
    QTest::qWait(20);  // the last queued reports
    EXPECT_TRUE(LogLines(log).contains("Error!!- Reason: The run was stopped"))
        << LogLines(log).join("\n").toStdString();
}

TEST_F(RunTest, AFailedRunDoesNotLookFinished) {
    // The flash library reports a programming error at its third status word.
    Start(false, {"--fault", "status-word:3:00B20000"});
    ChooseBoard();
    page->findChild<QCheckBox*>("flashingBox")->click();
    page->findChild<QLineEdit*>("imageEdit")->setText(WriteImage(64 * 1024));
    ExecuteAndWait();
    EXPECT_EQ(LogLines(log).last(), "Error!!- Reason: Flashing Program Error");
    EXPECT_TRUE(bar->text().startsWith("Failed")) << bar->text().toStdString();
    EXPECT_EQ(bar->palette().color(QPalette::Highlight), QColor(192, 0, 0));
    // The next run starts from a plain bar.
    page->findChild<QLineEdit*>("imageEdit")->setText(folder.filePath("missing.bin"));
    ExecuteAndWait();
    EXPECT_FALSE(bar->text().startsWith("Failed")) << bar->text().toStdString();
}

}  // namespace
