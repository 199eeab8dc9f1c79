// vireo-sim's diagnostics on standard error. Lines are handed to a writer thread
// so that a reader who does not drain the pipe (a test harness reading stderr
// only at the end) can never stall the board; when too many lines wait, new ones
// are dropped and counted instead.
#pragma once

#include <chrono>
#include <string>

namespace vsim {

// One line, without its line feed; callable from any thread.
void LogLine(const std::string& line);

// Waits (at most `limit`) until the lines logged so far have been written.
void FlushLog(std::chrono::milliseconds limit);

}  // namespace vsim
