// What the command line needs to know about its terminal, per platform
// (terminal_posix.cpp, terminal_win32.cpp).
#pragma once

namespace sealbench {

// Whether standard error is a terminal that can draw a progress bar (carriage
// return and "erase line"). On Windows this turns the console's escape sequences on.
bool StderrIsTerminal();

}  // namespace sealbench
