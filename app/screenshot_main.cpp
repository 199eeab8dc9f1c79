// sealbench-screenshot: renders the main window as a person sees it after a
// flashing run on the virtual board, and saves it as a PNG (docs/screenshot.png);
// with --boards, the "Boards" page in the middle of flashing several virtual boards
// (docs/boards.png); with --station, the page's station tiles at work
// (docs/station.png). scripts/screenshot.sh runs it under Xvfb.
#include <bootwire/bootwire.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "app/boards_page.h"
#include "app/sealbench_app.h"
#include "app/virtual_board.h"

namespace {

// Picks a list entry the way a click would.
void Choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

bool WaitUntil(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }

bool Save(QWidget* window, const QString& out) {
    const QImage shot = window->grab().toImage();
    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) || !shot.save(&file, "PNG") || !file.commit()) {
        std::fprintf(stderr, "sealbench-screenshot: cannot write %s\n", qPrintable(out));
        return false;
    }
    return true;
}

bool WriteImage(const QString& path, int size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QByteArray bytes(size, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 10));
    return file.write(bytes) == bytes.size();
}

// Six paced virtual boards, four flashed over serial and two over USB from the
// "Boards" page; the picture is taken while the serial boards are still downloading.
int BoardsShot(const QString& out) {
    CSealbenchApp::Options options;
    options.simulate = QStringLiteral("VireoC_TO2");
    options.simulateCount = 6;
    options.simulateUsb = true;
    options.simulatorArguments = {QStringLiteral("--pace")};
    CSealbenchApp app(options);
    CSealbenchDlg* window = app.CreateMainWindow();
    if (window == nullptr) return 1;
    window->resize(900, 700);
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) return 1;
    QTemporaryDir folder;
    const QString image = folder.filePath(QStringLiteral("app.bin"));
    if (!WriteImage(image, 96 * 1024)) return 1;
    Choose(window->findChild<QComboBox*>(QStringLiteral("typeList")), 2);
    CPage_Debug* page = window->DownloadPage();
    page->findChild<QCheckBox*>(QStringLiteral("flashingBox"))->click();
    page->findChild<QLineEdit*>(QStringLiteral("imageEdit"))->setText(image);

    window->OpenBoardsPage();
    auto* boards = window->findChild<CBoardsPage*>(QStringLiteral("boardsPage"));
    auto* list = boards->findChild<QListWidget*>(QStringLiteral("boardCandidates"));
    // A board is ticked once: boards 1 to 4 on their serial ports, 5 and 6 on USB.
    static const QStringList kTicked{QStringLiteral("Virtual board 1 "), QStringLiteral("Virtual board 2 "),
                                     QStringLiteral("Virtual board 3 "), QStringLiteral("Virtual board 4 "),
                                     QStringLiteral("usb:sim:board5 "),  QStringLiteral("usb:sim:board6 ")};
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* item = list->item(i);
        for (const QString& ticked : kTicked) {
            if (item->text().contains(ticked)) item->setCheckState(Qt::Checked);
        }
    }
    boards->findChild<QPushButton*>(QStringLiteral("flashAll"))->click();
    auto* table = boards->findChild<QTableWidget*>(QStringLiteral("boardTable"));
    // Mid-run: the USB boards are done, the serial boards are well into their download.
    WaitUntil(
        [table] {
            int ok = 0;
            for (int row = 0; row < table->rowCount(); ++row) ok += table->item(row, 5)->text() == QStringLiteral("OK");
            auto* bar = qobject_cast<QProgressBar*>(table->cellWidget(0, 1));
            return ok >= 2 && bar && bar->value() > bar->maximum() / 3;
        },
        120000);
    QTest::qWait(300);
    return Save(window, out) ? 0 : 1;
}

// Six slots: three paced boards mid-download, one that failed, one done, and one
// place where no board is yet; the picture is taken once the quick ones have ended.
int StationShot(const QString& out) {
    QTemporaryDir folder;
    const QStringList uids{"5e1b0001", "5e1b0002", "5e1b0003", "5e1b0004", "5e1b0005"};
    std::vector<std::unique_ptr<VirtualBoard>> boards;
    std::vector<CSealbenchDlg::ExtraPort> ports;
    for (int i = 0; i < uids.size(); ++i) {
        QStringList extra{QStringLiteral("--uid"), uids[i], QStringLiteral("--flashlib"), QStringLiteral("model")};
        if (i < 3) extra << QStringLiteral("--pace");
        if (i == 3) extra << QStringLiteral("--fault") << QStringLiteral("status-word:2:0x00B2ABCD");
        boards.push_back(std::make_unique<VirtualBoard>());
        boards.back()->SetExtraArguments(extra);
        QString error;
        if (!boards.back()->Start(VirtualBoard::ProgramBesideApplication(), QStringLiteral("VireoC_TO2"), false,
                                  &error)) {
            std::fprintf(stderr, "sealbench-screenshot: %s\n", qPrintable(error));
            return 1;
        }
        ports.push_back({QStringLiteral("Virtual board %1 (VireoC_TO2)").arg(i + 1), boards.back()->SerialPath()});
    }
    ports.push_back({QStringLiteral("Slot 6 (no board yet)"), folder.filePath(QStringLiteral("slot6"))});
    CSealbenchDlg window(ports, {}, nullptr, false);
    window.resize(1000, 640);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    const QString image = folder.filePath(QStringLiteral("app.bin"));
    if (!WriteImage(image, 96 * 1024)) return 1;
    Choose(window.findChild<QComboBox*>(QStringLiteral("typeList")), 2);
    CPage_Debug* page = window.DownloadPage();
    page->findChild<QCheckBox*>(QStringLiteral("flashingBox"))->click();
    page->findChild<QLineEdit*>(QStringLiteral("imageEdit"))->setText(image);

    window.OpenBoardsPage();
    auto* station = window.findChild<CBoardsPage*>(QStringLiteral("boardsPage"));
    auto* list = station->findChild<QListWidget*>(QStringLiteral("boardCandidates"));
    for (int i = 0; i < list->count(); ++i) {
        for (const auto& port : ports) {
            if (list->item(i)->data(Qt::UserRole + 2).toString() == port.path)
                list->item(i)->setCheckState(Qt::Checked);
        }
    }
    station->findChild<QLineEdit*>(QStringLiteral("stationIdentity"))->setText(QStringLiteral("B800C000:4"));
    station->findChild<QPushButton*>(QStringLiteral("startStation"))->click();
    auto* counts = station->findChild<QLabel*>(QStringLiteral("stationCounts"));
    WaitUntil([&] { return counts->text().startsWith(QStringLiteral("boards: 2,")); }, 60000);
    WaitUntil(
        [&] {
            const QList<QProgressBar*> bars = station->findChildren<QProgressBar*>();
            return !bars.isEmpty() && bars.front()->value() > bars.front()->maximum() / 3;
        },
        60000);
    QTest::qWait(300);
    return Save(&window, out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: sealbench-screenshot [--boards | --station] OUT.png\n");
        return 2;
    }
    if (QString::fromLocal8Bit(argv[1]) == QStringLiteral("--boards")) {
        return argc < 3 ? 2 : BoardsShot(QString::fromLocal8Bit(argv[2]));
    }
    if (QString::fromLocal8Bit(argv[1]) == QStringLiteral("--station")) {
        return argc < 3 ? 2 : StationShot(QString::fromLocal8Bit(argv[2]));
    }
    const QString out = QString::fromLocal8Bit(argv[1]);

    CSealbenchApp::Options options;
    options.simulate = QStringLiteral("VireoC_TO2");
    CSealbenchApp app(options);
    CSealbenchDlg* window = app.CreateMainWindow();
    if (window == nullptr) return 1;
    window->resize(780, 660);
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) return 1;

    // VireoC_TO2 on the virtual board, FLASHING with the built-in NOR library.
    QTemporaryDir folder;
    const QString image = folder.filePath(QStringLiteral("app.bin"));
    {
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly)) return 1;
        QByteArray bytes(64 * 1024, '\0');
        for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
        file.write(bytes);
    }
    Choose(window->findChild<QComboBox*>(QStringLiteral("typeList")), 2);
    auto* ports = window->findChild<QComboBox*>(QStringLiteral("portList"));
    Choose(ports, ports->findText(QStringLiteral("Virtual board (VireoC_TO2)")));
    CPage_Debug* page = window->DownloadPage();
    page->findChild<QCheckBox*>(QStringLiteral("flashingBox"))->click();
    page->findChild<QLineEdit*>(QStringLiteral("imageEdit"))->setText(image);
    page->findChild<QPushButton*>(QStringLiteral("executeButton"))->click();
    WaitUntil([page] { return !page->Busy(); }, 120000);
    QTest::qWait(200);

    return Save(window, out) ? 0 : 1;
}
