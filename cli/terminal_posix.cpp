#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "terminal.h"

namespace sealbench::cli {
namespace {

volatile sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

}  // namespace

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

int StderrColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return ColumnsFromEnvironment();
}

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The first signal asks for a clean stop; the next one is the default, which ends the process.
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() { return interrupted != 0; }

std::FILE* TakeStdoutForData() {
    std::fflush(stdout);
    const int data = ::dup(STDOUT_FILENO);
    if (data < 0) return nullptr;
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        ::close(data);
        return nullptr;
    }
    std::FILE* stream = ::fdopen(data, "wb");
    if (!stream) ::close(data);
    return stream;
}

}  // namespace sealbench::cli
