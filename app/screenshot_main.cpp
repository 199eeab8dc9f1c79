// sealbench-screenshot: renders the main window as a person sees it after a
// flashing run on the virtual board, and saves it as a PNG (docs/screenshot.png).
// scripts/screenshot.sh runs it under Xvfb.
#include <bootwire/bootwire.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "app/sealbench_app.h"

namespace {

// Picks a list entry the way a click would.
void Choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

bool WaitUntil(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: sealbench-screenshot OUT.png\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);

    BootwireClass bootwire;
    CSealbenchApp::Options options;
    options.simulate = QStringLiteral("VireoC_TO2");
    CSealbenchApp app(bootwire, options);
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

    const QImage shot = window->grab().toImage();
    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) || !shot.save(&file, "PNG") || !file.commit()) {
        std::fprintf(stderr, "sealbench-screenshot: cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}
