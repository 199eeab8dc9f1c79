// What the several-board output needs from its terminal and the process's signals,
// per platform (terminal_posix.cpp).
#pragma once

namespace sealbench::cli {

// Whether standard output is a terminal (its lines then share the screen with the
// progress block on standard error).
bool StdoutIsTerminal();
// Columns of the terminal on standard error; 80 when it cannot tell.
int StderrColumns();

// From here on, Ctrl-C (and a termination request) only sets a flag that
// Interrupted() reads; a second Ctrl-C ends the process at once.
void CatchInterrupt();
bool Interrupted();

}  // namespace sealbench::cli
