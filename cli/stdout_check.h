// A command whose output was lost has failed, whatever else it did: a script that
// reads `read`'s value from standard output must not get exit status 0 and
// nothing when the disk is full or the pipe is broken.
#pragma once

namespace sealbench::cli {

// Called once, first thing in main: when the process exits, standard output is
// flushed and checked; a write that failed at any point turns the exit status
// into 1, with the reason on standard error.
void FailOnLostOutput();

}  // namespace sealbench::cli
