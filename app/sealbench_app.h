// CSealbenchApp: the program's start-up. It prepares the process, starts the
// virtual board when asked to, shows the main window modally and ends the program
// when the window closes.
#pragma once

#include <QString>
#include <memory>

#include "app/sealbench_dlg.h"

class BootwireClass;
class VirtualBoard;

class CSealbenchApp {
public:
    struct Options {
        QString simulate;                // processor type of a virtual board to start; empty: none
        bool simulateUsb = false;        // the virtual board also serves USB
        bool allPages = false;           // show the pages that the window normally keeps hidden
        QString simulatorPath;           // vireo-sim; empty: the one beside this executable
        QStringList simulatorArguments;  // further vireo-sim options (--pace, --fault ...)
    };

    CSealbenchApp(BootwireClass& bootwire, Options options, std::vector<CSealbenchDlg::ExtraPage> extraPages = {});
    ~CSealbenchApp();

    // Start-up: builds the main window and runs it modally. Returns false, as the
    // program ends with its window; ExitCode() tells whether start-up failed.
    bool InitInstance();
    int ExitCode() const { return exitCode_; }

    // Start-up without the modal run, for tests and benchmarks: the window is built and shown.
    CSealbenchDlg* CreateMainWindow();

private:
    bool StartVirtualBoard(std::vector<CSealbenchDlg::ExtraPort>* ports);

    BootwireClass& bootwire_;
    Options options_;
    std::vector<CSealbenchDlg::ExtraPage> extraPages_;
    std::unique_ptr<VirtualBoard> board_;
    std::unique_ptr<CSealbenchDlg> window_;
    int exitCode_ = 0;
};
