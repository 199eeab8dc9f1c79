#include "app/sealbench_app.h"

#include <bootwire/bootwire.h>

#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>

#include "app/virtual_board.h"

CSealbenchApp::CSealbenchApp(BootwireClass& bootwire, Options options, std::vector<CSealbenchDlg::ExtraPage> extraPages)
    : bootwire_(bootwire), options_(std::move(options)), extraPages_(std::move(extraPages)) {}

CSealbenchApp::~CSealbenchApp() {
    // The window and its run go before the board they may be talking to.
    window_.reset();
    // Let go of the USB device while the library's driver is still there: the
    // library's own objects are torn down at exit in an order that does not allow
    // it later.
    bootwire::ProcessUsbLink().Detach();
    board_.reset();
}

bool CSealbenchApp::StartVirtualBoard(std::vector<CSealbenchDlg::ExtraPort>* ports) {
    if (options_.simulate.isEmpty()) return true;
    board_ = std::make_unique<VirtualBoard>();
    board_->SetExtraArguments(options_.simulatorArguments);
    const QString program =
        options_.simulatorPath.isEmpty() ? VirtualBoard::ProgramBesideApplication() : options_.simulatorPath;
    QString error;
    if (!board_->Start(program, options_.simulate, options_.simulateUsb, &error)) {
        std::fprintf(stderr, "sealbench: cannot start the virtual board: %s\n", qPrintable(error));
        return false;
    }
    ports->push_back({QStringLiteral("Virtual board (%1)").arg(options_.simulate), board_->SerialPath()});
    // The library finds the virtual board's USB device through this variable; it must
    // be set before the window enumerates USB.
    if (options_.simulateUsb) qputenv("BOOTWIRE_USB_SIM", board_->UsbSocket().toLocal8Bit());
    return true;
}

CSealbenchDlg* CSealbenchApp::CreateMainWindow() {
    // The profile key the program would keep settings under; it keeps none.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Sealbench"));

    std::vector<CSealbenchDlg::ExtraPort> ports;
    if (!StartVirtualBoard(&ports)) {
        exitCode_ = 1;
        return nullptr;
    }
    // The window's runs talk over the links that its BootwireClass calls open.
    WindowLinks links{&bootwire::ProcessSerialLink(), &bootwire::ProcessUsbLink()};
    window_ =
        std::make_unique<CSealbenchDlg>(bootwire_, links, std::move(ports), extraPages_, nullptr, options_.allPages);
    return window_.get();
}

bool CSealbenchApp::InitInstance() {
    CSealbenchDlg* window = CreateMainWindow();
    if (window != nullptr) window->exec();
    window_.reset();
    return false;
}
