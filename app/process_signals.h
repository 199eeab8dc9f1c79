// What the window does about process signals and the processes it starts, one
// implementation per platform: a termination request (SIGTERM, SIGINT) closes the
// window the normal way, so that the virtual board it started ends with it; a
// started helper process never outlives the window, even one that is killed.
#pragma once

#include <QtGlobal>

class QProcess;

// From here on SIGTERM and SIGINT close every dialog the program shows, the main
// window last, instead of ending the process at once. Call once, with the
// application object alive.
void CloseWindowsOnTerminationSignals();

// Whether a termination request came: the window then stops its runs without asking.
bool TerminationRequested();

// `process`, not yet started, is ended when this process ends, however it ends.
void EndWithThisProcess(QProcess& process);

// Asks the virtual board to reset itself to its boot ROM (as its reset button does).
// False where the platform cannot ask it.
bool SignalBoardReset(qint64 pid);
