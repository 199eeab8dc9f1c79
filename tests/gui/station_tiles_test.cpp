// The Boards page in station mode from clicks, over real vireo-sim processes: the
// ticked places become slots, each slot's tile ends in its board's identity and
// result, the counts follow, and a failed slot says why in one click.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "app/boards_page.h"
#include "app/station_panel.h"
#include "gui_test_util.h"
#include "sim_process.h"
#include "test_images.h"

using gui_test::Choose;
using gui_test::NextModal;
using sealtest::SimProcess;

namespace {

TEST(StationTiles, EachSlotEndsInItsBoardsResultAndAFailureSaysWhy) {
    qunsetenv("BOOTWIRE_USB_SIM");
    SimProcess good("VireoC_TO2", {"--uid", "0a0b0c0d"});
    SimProcess faulty("VireoC_TO2", {"--fault", "status-word:2:0x00B20000"});
    ASSERT_TRUE(good.ok() && faulty.ok()) << good.error() << faulty.error();
    const QStringList names{QString::fromStdString(good.serial()), QString::fromStdString(faulty.serial())};
    CSealbenchDlg window({{"Virtual board 1 (VireoC_TO2)", names[0]}, {"Virtual board 2 (VireoC_TO2)", names[1]}}, {},
                         nullptr, false);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    Choose(window.findChild<QComboBox*>("typeList"), 2);
    QTemporaryDir folder;
    const QString image = folder.filePath("image.bin");
    {
        QFile file(image);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const std::vector<uint8_t> bytes = sealtest::NoiseImage(0x4000, 3);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    CPage_Debug* download = window.DownloadPage();
    download->findChild<QLineEdit*>("imageEdit")->setText(image);

    window.findChild<QAction*>("boardsAction")->trigger();
    auto* boards = window.findChild<CBoardsPage*>("boardsPage");
    ASSERT_NE(boards, nullptr);
    auto* list = boards->findChild<QListWidget*>("boardCandidates");
    for (int i = 0; i < list->count(); ++i) {
        if (names.contains(list->item(i)->data(Qt::UserRole + 2).toString())) list->item(i)->setCheckState(Qt::Checked);
    }
    auto* start = boards->findChild<QPushButton*>("startStation");
    auto* message = boards->findChild<QLabel*>("boardsMessage");
    // A station flashes: with DOWNLOAD only on the Download page it does not start.
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_TRUE(message->text().contains("FLASHING")) << message->text().toStdString();
    download->findChild<QCheckBox*>("flashingBox")->click();

    boards->findChild<QLineEdit*>("stationIdentity")->setText("B800C000:4");
    bool ended = false;
    QObject::connect(boards, &CBoardsPage::allEnded, [&] { ended = true; });
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(message->text().isEmpty()) << message->text().toStdString();
    EXPECT_TRUE(boards->Running());
    EXPECT_FALSE(start->isEnabled());
    auto* counts = boards->findChild<QLabel*>("stationCounts");
    ASSERT_TRUE(gui_test::WaitFor([&] { return counts->text().startsWith("boards: 2,"); }, gui_test::kRunTimeoutMs))
        << counts->text().toStdString();
    EXPECT_TRUE(counts->text().startsWith("boards: 2, passed: 1, failed: 1, units per hour: "))
        << counts->text().toStdString();

    const QList<QFrame*> tiles = boards->findChildren<QFrame*>("stationTile");
    ASSERT_EQ(tiles.size(), 2);
    auto text = [&](int tile, const char* name) { return tiles[tile]->findChild<QLabel*>(name)->text(); };
    ASSERT_TRUE(gui_test::WaitFor([&] { return text(0, "tileResult").startsWith("OK"); }));
    EXPECT_EQ(text(0, "tileIdentity"), "identity: 0a0b0c0d");
    EXPECT_EQ(text(0, "tileResult"), "OK (1 of 1 passed)");
    EXPECT_EQ(text(0, "tileStage"), "done: take the board out");
    EXPECT_EQ(text(1, "tileResult"), "FAILED (0 of 1 passed)");
    auto* why = tiles[1]->findChild<QPushButton*>("tileWhy");
    EXPECT_FALSE(tiles[0]->findChild<QPushButton*>("tileWhy")->isEnabled());
    ASSERT_TRUE(why->isEnabled());

    QString reason;
    NextModal<QDialog> readWhy([&](QDialog* dialog) {
        if (auto* shown = dialog->findChild<QPlainTextEdit*>("tileWhyText")) reason = shown->toPlainText();
        dialog->reject();
    });
    QTest::mouseClick(why, Qt::LeftButton);
    EXPECT_TRUE(readWhy.Seen());
    EXPECT_TRUE(reason.startsWith("FAILED - Flashing Program Error")) << reason.toStdString();
    EXPECT_TRUE(reason.contains("Error!!- Reason: Flashing Program Error")) << reason.toStdString();

    QTest::mouseClick(boards->findChild<QPushButton*>("stopBoards"), Qt::LeftButton);
    ASSERT_TRUE(gui_test::WaitFor([&] { return ended; }));
    EXPECT_FALSE(boards->Running());
    EXPECT_TRUE(start->isEnabled());
}

}  // namespace
