// sealbench-screenshot: renders the main window as a person sees it after a
// flashing run on the virtual board, and saves it as a PNG (docs/screenshot.png);
// with --boards, the "Boards" page in the middle of flashing several virtual boards
// (docs/boards.png). scripts/screenshot.sh runs it under Xvfb.
#include <bootwire/bootwire.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
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

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: sealbench-screenshot [--boards] OUT.png\n");
        return 2;
    }
    if (QString::fromLocal8Bit(argv[1]) == QStringLiteral("--boards")) {
        return argc < 3 ? 2 : BoardsShot(QString::fromLocal8Bit(argv[2]));
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
