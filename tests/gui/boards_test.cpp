// The "Boards" page from clicks: opened from the Window menu, boards ticked, "Flash
// all" over real vireo-sim processes, rows that end in their verdicts, a failed
// board's log one click away; and `--simulate N` with USB.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

#include "app/boards_page.h"
#include "app/sealbench_app.h"
#include "gui_test_util.h"
#include "sim_process.h"

using gui_test::Choose;
using gui_test::NextModal;
using sealtest::SimProcess;

namespace {

constexpr int kResultColumn = 5;
constexpr int kLogColumn = 6;

CBoardsPage* OpenBoards(CSealbenchDlg& window) {
    auto* action = window.findChild<QAction*>("boardsAction");
    EXPECT_NE(action, nullptr);
    if (action) action->trigger();
    return window.findChild<CBoardsPage*>("boardsPage");
}

// Ticks the list entries whose board name is in `names`; returns how many.
int Tick(QListWidget* list, const QStringList& names) {
    int ticked = 0;
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* item = list->item(i);
        if (!names.contains(item->data(Qt::UserRole + 2).toString())) continue;
        item->setCheckState(Qt::Checked);
        ++ticked;
    }
    return ticked;
}

TEST(BoardsPage, FlashAllOverThreeVirtualBoardsEndsInEachVerdict) {
    qunsetenv("BOOTWIRE_USB_SIM");
    QTemporaryDir folder;
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < 3; ++i) {
        std::vector<std::string> extra{"--dump-flash", folder.filePath(QString("flash%1").arg(i)).toStdString()};
        if (i == 1) extra.insert(extra.end(), {"--fault", "status-word:2:0x00B20000"});
        sims.push_back(std::make_unique<SimProcess>("VireoC_TO2", extra));
        ASSERT_TRUE(sims.back()->ok()) << sims.back()->error();
    }
    std::vector<CSealbenchDlg::ExtraPort> ports;
    QStringList names;
    for (size_t i = 0; i < sims.size(); ++i) {
        names << QString::fromStdString(sims[i]->serial());
        ports.push_back({QString("Virtual board %1 (VireoC_TO2)").arg(i + 1), names.back()});
    }
    CSealbenchDlg window(ports, {}, nullptr, false);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    Choose(window.findChild<QComboBox*>("typeList"), 2);
    CPage_Debug* download = window.DownloadPage();
    download->findChild<QCheckBox*>("flashingBox")->click();
    const QString image = folder.filePath("image.bin");
    {
        QFile file(image);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray bytes(0x6000, '\0');
        for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 29) ^ (i >> 7));
        file.write(bytes);
    }
    download->findChild<QLineEdit*>("imageEdit")->setText(image);

    CBoardsPage* boards = OpenBoards(window);
    ASSERT_NE(boards, nullptr);
    EXPECT_EQ(window.TabHost()->GetPage(window.TabHost()->GetCurSel()), boards);
    auto* flashAll = boards->findChild<QPushButton*>("flashAll");
    auto* message = boards->findChild<QLabel*>("boardsMessage");
    QTest::mouseClick(flashAll, Qt::LeftButton);
    EXPECT_FALSE(message->text().isEmpty()) << "nothing ticked";

    ASSERT_EQ(Tick(boards->findChild<QListWidget*>("boardCandidates"), names), 3);
    bool ended = false;
    QObject::connect(boards, &CBoardsPage::allEnded, [&] { ended = true; });
    QTest::mouseClick(flashAll, Qt::LeftButton);
    EXPECT_FALSE(flashAll->isEnabled());
    auto* table = boards->findChild<QTableWidget*>("boardTable");
    ASSERT_EQ(table->rowCount(), 3);
    ASSERT_TRUE(gui_test::WaitFor([&] { return ended; }, gui_test::kRunTimeoutMs));
    EXPECT_TRUE(flashAll->isEnabled());

    EXPECT_EQ(table->item(0, kResultColumn)->text(), "OK");
    EXPECT_EQ(table->item(1, kResultColumn)->text(), "FAILED - Flashing Program Error");
    EXPECT_EQ(table->item(2, kResultColumn)->text(), "OK");
    // The failed row's bar says so, whatever stage it reached; the others' do not.
    auto barOf = [&](int row) { return qobject_cast<QProgressBar*>(table->cellWidget(row, 1)); };
    EXPECT_TRUE(barOf(1)->text().startsWith("failed at")) << barOf(1)->text().toStdString();
    EXPECT_FALSE(barOf(0)->text().startsWith("failed")) << barOf(0)->text().toStdString();
    EXPECT_EQ(table->item(0, 0)->text(), names[0]);

    // The failed board's log, one click away.
    QString logText;
    NextModal<QDialog> readLog([&](QDialog* dialog) {
        if (auto* text = dialog->findChild<QPlainTextEdit*>("boardLogText")) logText = text->toPlainText();
        dialog->reject();
    });
    QTest::mouseClick(qobject_cast<QPushButton*>(table->cellWidget(1, kLogColumn)), Qt::LeftButton);
    EXPECT_TRUE(readLog.Seen());
    EXPECT_TRUE(logText.contains("Error!!- Reason: Flashing Program Error")) << logText.toStdString();
    EXPECT_TRUE(logText.startsWith("VireoC Sealbench ver 1.3s")) << logText.toStdString();
}

TEST(BoardsPage, SimulateParsesCountsAndTypes) {
    QString type;
    int count = 0;
    ASSERT_TRUE(CSealbenchApp::ParseSimulate("VireoB", &type, &count));
    EXPECT_EQ(type, "VireoB");
    EXPECT_EQ(count, 1);
    ASSERT_TRUE(CSealbenchApp::ParseSimulate("4", &type, &count));
    EXPECT_EQ(type, "VireoC_TO2");
    EXPECT_EQ(count, 4);
    ASSERT_TRUE(CSealbenchApp::ParseSimulate("3:VireoC_TO1", &type, &count));
    EXPECT_EQ(type, "VireoC_TO1");
    EXPECT_EQ(count, 3);
    for (const char* bad : {"0", "17", "VireoD", "VireoB:2", "2:", "2:3:VireoB", ""}) {
        EXPECT_FALSE(CSealbenchApp::ParseSimulate(bad, &type, &count)) << bad;
    }
}

TEST(BoardsPage, SimulateTwoBoardsWithUsbListsBothWays) {
    qunsetenv("BOOTWIRE_USB_SIM");
    CSealbenchApp::Options options;
    options.simulate = "VireoC_TO2";
    options.simulateCount = 2;
    options.simulateUsb = true;
    auto app = std::make_unique<CSealbenchApp>(options);
    CSealbenchDlg* window = app->CreateMainWindow();
    ASSERT_NE(window, nullptr) << "vireo-sim did not start";
    CBoardsPage* boards = OpenBoards(*window);
    ASSERT_NE(boards, nullptr);
    auto* list = boards->findChild<QListWidget*>("boardCandidates");
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) entries << list->item(i)->text();
    const QString all = entries.join('\n');
    EXPECT_TRUE(all.contains("Virtual board 1 (VireoC_TO2)")) << all.toStdString();
    EXPECT_TRUE(all.contains("Virtual board 2 (VireoC_TO2)")) << all.toStdString();
    EXPECT_TRUE(all.contains("usb:sim:board1")) << all.toStdString();
    EXPECT_TRUE(all.contains("usb:sim:board2")) << all.toStdString();
    // The Download page took the first USB device at start-up, as ever.
    EXPECT_TRUE(window->Connection().usb);
    app.reset();
    qunsetenv("BOOTWIRE_USB_SIM");
}

}  // namespace
