#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <atomic>

#include "common/win32_support.h"
#include "terminal.h"

namespace sealbench::cli {
namespace {

std::atomic<bool> interrupted{false};

// Runs on a thread the console starts. The first Ctrl-C or Ctrl-Break asks for a
// clean stop; returning FALSE for the next lets the default handler end the process.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (interrupted.exchange(true)) {
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool StdoutIsTerminal() { return ::_isatty(::_fileno(stdout)) != 0; }

int StderrColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) {
            return columns;
        }
    }
    return ColumnsFromEnvironment();
}

void CatchInterrupt() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool Interrupted() { return interrupted.load(); }

std::FILE* TakeStdoutForData() {
    std::fflush(stdout);
    const int data = ::_dup(::_fileno(stdout));
    if (data < 0) return nullptr;
    if (::_dup2(::_fileno(stderr), ::_fileno(stdout)) < 0) {
        ::_close(data);
        return nullptr;
    }
    ::_setmode(data, _O_BINARY);
    std::FILE* stream = ::_fdopen(data, "wb");
    if (!stream) ::_close(data);
    return stream;
}

}  // namespace sealbench::cli
