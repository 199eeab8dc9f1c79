#include <QProcess>

#include "app/process_signals.h"

// The virtual board runs on POSIX systems only; a Windows console's Ctrl+C already
// ends the program through the toolkit.
void CloseWindowsOnTerminationSignals() {}

bool TerminationRequested() { return false; }

void EndWithThisProcess(QProcess&) {}

bool SignalBoardReset(qint64) { return false; }
