// CSealbenchApp: the program's start-up. It prepares the process, starts the
// virtual board when asked to, shows the main window modally and ends the program
// when the window closes.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "app/sealbench_dlg.h"

class VirtualBoard;

class CSealbenchApp {
public:
    struct Options {
        QString simulate;                // processor type of the virtual boards to start; empty: none
        int simulateCount = 1;           // how many
        bool simulateUsb = false;        // the virtual board also serves USB
        bool allPages = false;           // show the pages that the window normally keeps hidden
        QString simulatorPath;           // vireo-sim; empty: the one beside this executable
        QStringList simulatorArguments;  // further vireo-sim options (--pace, --fault ...)
    };

    // --simulate's value: TYPE, N (boards of VireoC_TO2) or N:TYPE. False when it is none of them.
    static bool ParseSimulate(const QString& text, QString* type, int* count);

    explicit CSealbenchApp(Options options, std::vector<CSealbenchDlg::ExtraPage> extraPages = {});
    ~CSealbenchApp();

    // Start-up: builds the main window and runs it modally. Returns false, as the
    // program ends with its window; ExitCode() tells whether start-up failed.
    bool InitInstance();
    int ExitCode() const { return exitCode_; }

    // Start-up without the modal run, for tests and benchmarks: the window is built and shown.
    CSealbenchDlg* CreateMainWindow();

private:
    bool StartVirtualBoards(std::vector<CSealbenchDlg::ExtraPort>* ports);

    Options options_;
    std::vector<CSealbenchDlg::ExtraPage> extraPages_;
    std::vector<std::unique_ptr<VirtualBoard>> boards_;
    std::unique_ptr<QTemporaryDir> usbFolder_;  // the sockets of several virtual boards
    std::unique_ptr<CSealbenchDlg> window_;
    int exitCode_ = 0;
};
