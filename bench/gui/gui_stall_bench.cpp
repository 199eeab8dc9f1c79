// GUI-thread stall during a FLASHING run on the virtual board: the longest gap
// between two turns of the window's event loop from the click on "Execute" to the
// end of the run, memory initialisation included.
#include <bootwire/bootwire.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "app/sealbench_app.h"
#include "bench_result.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    CSealbenchApp::Options options;
    options.simulate = QStringLiteral("VireoC_TO2");
    CSealbenchApp app(options);
    CSealbenchDlg* window = app.CreateMainWindow();
    if (window == nullptr) return 1;
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) return 1;

    QTemporaryDir folder;
    const QString image = folder.filePath(QStringLiteral("image.bin"));
    {
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly)) return 1;
        QByteArray bytes(1024 * 1024, '\0');
        for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + (i >> 12));
        file.write(bytes);
    }
    auto* types = window->findChild<QComboBox*>(QStringLiteral("typeList"));
    types->setCurrentIndex(2);
    emit types->activated(2);
    auto* ports = window->findChild<QComboBox*>(QStringLiteral("portList"));
    const int entry = ports->findText(QStringLiteral("Virtual board (VireoC_TO2)"));
    ports->setCurrentIndex(entry);
    emit ports->activated(entry);
    CPage_Debug* page = window->DownloadPage();
    page->findChild<QCheckBox*>(QStringLiteral("flashingBox"))->click();
    page->findChild<QLineEdit*>(QStringLiteral("imageEdit"))->setText(image);

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    ticker.start(0);
    page->findChild<QPushButton*>(QStringLiteral("executeButton"))->click();
    const bool ended = QTest::qWaitFor([page] { return !page->Busy(); }, 300000);
    const double runMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    ticker.stop();

    const QString log = page->findChild<QPlainTextEdit*>(QStringLiteral("statusLog"))->toPlainText();
    std::fprintf(stderr, "run of %.0f ms, log:\n%s\n", runMs, qPrintable(log));
    if (!ended || !log.contains(QStringLiteral("Flashing Completed"))) return 1;
    const double stallMs = static_cast<double>(longest) / 1e6;
    bench::Result("GUI-thread stall during a FLASHING run (1 MiB, NOR)", stallMs, "ms", "< 50 ms", stallMs < 50.0);
    return 0;
}
