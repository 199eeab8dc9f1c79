// What the several-board output needs from its terminal and the process's signals,
// per platform (terminal_posix.cpp).
#pragma once

#include <cstdio>
#include <cstdlib>

namespace sealbench::cli {

// Whether standard output is a terminal (its lines then share the screen with the
// progress block on standard error).
bool StdoutIsTerminal();
// Columns of the terminal on standard error; else $COLUMNS; else 80.
int StderrColumns();

// $COLUMNS when it holds a sensible width, else 80: for a standard error that is
// not a terminal whose width can be asked.
inline int ColumnsFromEnvironment() {
    if (const char* text = std::getenv("COLUMNS")) {
        long value = std::strtol(text, nullptr, 10);
        if (value > 0 && value < 10000) return static_cast<int>(value);
    }
    return 80;
}

// From here on, Ctrl-C (and a termination request) only sets a flag that
// Interrupted() reads; a second Ctrl-C ends the process at once.
void CatchInterrupt();
bool Interrupted();

// Hands standard output over to data (binary, as a file): the stream returned
// writes where standard output went, and what is written to stdout from here on
// (the status-log lines) goes to standard error. nullptr when it cannot be done.
std::FILE* TakeStdoutForData();

}  // namespace sealbench::cli
