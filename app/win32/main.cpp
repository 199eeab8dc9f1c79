// sealbench.exe: the desktop workbench on Windows. main() prepares the process as
// the platform wants it (OLE for the file dialogs, the common controls), builds the
// main window with the pages and runs it modally; the program ends with it.
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <ole2.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/win32/file_pages.h"
#include "app/win32/sealbench_dlg.h"
#include "common/version.h"
#include "ui/win32/win32_ui.h"

namespace {

constexpr const char* kHelp =
    "Usage: sealbench [options]\n"
    "Sealbench: load and flash boards built around Vireo processors.\n\n"
    "Options:\n"
    "  -h, --help       Displays help on commandline options.\n"
    "  -V, --version    Print the version and exit.\n"
    "  --all-pages      Also show the pages that the window keeps hidden.\n";

// A program of the window subsystem has no console of its own: text goes to the
// caller's, or to a message box when it was started without one.
void Tell(const std::string& text, bool error) {
    if (AttachConsole(ATTACH_PARENT_PROCESS) || GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE) != nullptr) {
        std::FILE* stream = error ? stderr : stdout;
        std::fputs(text.c_str(), stream);
        std::fflush(stream);
        return;
    }
    sealbench::win32::ShowMessage(nullptr, text, error ? MB_OK | MB_ICONERROR : MB_OK);
}

class OleSession {
public:
    OleSession() : ok_(SUCCEEDED(OleInitialize(nullptr))) {}
    ~OleSession() {
        if (ok_) OleUninitialize();
    }
    OleSession(const OleSession&) = delete;
    OleSession& operator=(const OleSession&) = delete;

private:
    bool ok_;
};

}  // namespace

int main(int argc, char** argv) {
    bool allPages = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            Tell(kHelp, false);
            return 0;
        }
        if (argument == "-V" || argument == "--version") {
            Tell(std::string("sealbench ") + sealbench::kProjectVersion + "\n", false);
            return 0;
        }
        if (argument == "--all-pages") {
            allPages = true;
            continue;
        }
        Tell("sealbench: unknown option " + argument + " (see --help)\n", true);
        return 2;
    }

    OleSession ole;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                                                       ICC_LISTVIEW_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    sealbench::win32::CSealbenchDlg window(sealbench::win32::FilePages(), allPages);
    window.RunModal(nullptr);
    return 0;
}
