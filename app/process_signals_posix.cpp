#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QSocketNotifier>

#include "app/process_signals.h"

namespace {

// The handler may do nothing but write: the notifier acts on the GUI thread.
int signalPipe[2] = {-1, -1};
bool terminating = false;  // GUI thread only

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void CloseDialogs() {
    char bytes[16];
    [[maybe_unused]] ssize_t n = ::read(signalPipe[0], bytes, sizeof bytes);
    terminating = true;
    // Message boxes first: each modal loop returns before the window beneath it closes.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (dialog == nullptr || !dialog->isVisible()) break;
        dialog->reject();
        QCoreApplication::processEvents();
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog != nullptr && dialog->isVisible()) dialog->reject();
    }
    QCoreApplication::quit();
}

}  // namespace

void CloseWindowsOnTerminationSignals() {
    if (signalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] { CloseDialogs(); });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

bool TerminationRequested() { return terminating; }

void EndWithThisProcess(QProcess& process) {
#ifdef __linux__
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The parent may have ended before the call above took effect.
        if (::getppid() != parent) ::_exit(1);
    });
#else
    (void)process;
#endif
}

bool SignalBoardReset(qint64 pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGUSR1) == 0; }
