#include "app/sealbench_app.h"

#include <bootwire/bootwire.h>

#include <QCoreApplication>
#include <QMessageBox>
#include <algorithm>
#include <cstdio>

#include "app/process_signals.h"
#include "app/virtual_board.h"

CSealbenchApp::CSealbenchApp(Options options, std::vector<CSealbenchDlg::ExtraPage> extraPages)
    : options_(std::move(options)), extraPages_(std::move(extraPages)) {}

CSealbenchApp::~CSealbenchApp() {
    // The window, its run and the board it holds go before the virtual boards.
    window_.reset();
    boards_.clear();
}

bool CSealbenchApp::ParseSimulate(const QString& text, QString* type, int* count) {
    static const QStringList kTypes{QStringLiteral("VireoB"), QStringLiteral("VireoC_TO1"),
                                    QStringLiteral("VireoC_TO2")};
    constexpr int kMaxBoards = 16;
    const QStringList parts = text.split(QLatin1Char(':'));
    QString name = parts.size() == 2 ? parts[1] : QString();
    bool number = false;
    int n = parts.front().toInt(&number);
    if (!number) {
        if (parts.size() != 1) return false;
        n = 1;
        name = parts.front();
    } else if (parts.size() == 1) {
        name = QStringLiteral("VireoC_TO2");
    }
    if (parts.size() > 2 || n < 1 || n > kMaxBoards || !kTypes.contains(name)) return false;
    *type = name;
    *count = n;
    return true;
}

bool CSealbenchApp::StartVirtualBoards(std::vector<CSealbenchDlg::ExtraPort>* ports) {
    if (options_.simulate.isEmpty()) return true;
    const QString program =
        options_.simulatorPath.isEmpty() ? VirtualBoard::ProgramBesideApplication() : options_.simulatorPath;
    const int count = std::max(options_.simulateCount, 1);
    // Several boards serve their USB devices from one folder, which the library reads
    // as one device per socket.
    if (options_.simulateUsb && count > 1) {
        usbFolder_ = std::make_unique<QTemporaryDir>();
        if (!usbFolder_->isValid()) {
            std::fprintf(stderr, "sealbench: cannot create a folder for the USB sockets\n");
            return false;
        }
    }
    for (int i = 1; i <= count; ++i) {
        auto board = std::make_unique<VirtualBoard>();
        board->SetExtraArguments(options_.simulatorArguments);
        if (usbFolder_) board->SetUsbSocketPath(usbFolder_->filePath(QStringLiteral("board%1.sock").arg(i)));
        QString error;
        if (!board->Start(program, options_.simulate, options_.simulateUsb, &error)) {
            std::fprintf(stderr, "sealbench: cannot start the virtual board: %s\n", qPrintable(error));
            return false;
        }
        const QString label = count == 1 ? QStringLiteral("Virtual board (%1)").arg(options_.simulate)
                                         : QStringLiteral("Virtual board %1 (%2)").arg(i).arg(options_.simulate);
        ports->push_back({label, board->SerialPath()});
        boards_.push_back(std::move(board));
    }
    // The library finds the virtual boards' USB devices through this variable; it must
    // be set before the window enumerates USB.
    if (options_.simulateUsb) {
        const QString where = usbFolder_ ? usbFolder_->path() : boards_.front()->UsbSocket();
        qputenv("BOOTWIRE_USB_SIM", where.toLocal8Bit());
    }
    return true;
}

CSealbenchDlg* CSealbenchApp::CreateMainWindow() {
    // The profile key the program would keep settings under; it keeps none.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Sealbench"));

    std::vector<CSealbenchDlg::ExtraPort> ports;
    if (!StartVirtualBoards(&ports)) {
        exitCode_ = 1;
        return nullptr;
    }
    window_ = std::make_unique<CSealbenchDlg>(std::move(ports), extraPages_, nullptr, options_.allPages);
    if (!boards_.empty()) {
        // Every virtual board, as a shared reset line would.
        window_->AddVirtualBoardReset([this] {
            bool running = true;
            for (const auto& board : boards_) running = board->Reset() && running;
            return running;
        });
    }
    return window_.get();
}

bool CSealbenchApp::InitInstance() {
    // A termination request closes the window, so that everything it started ends too.
    CloseWindowsOnTerminationSignals();
    CSealbenchDlg* window = CreateMainWindow();
    if (window != nullptr) window->exec();
    window_.reset();
    return false;
}
