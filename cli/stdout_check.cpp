#include "stdout_check.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"

namespace sealbench::cli {
namespace {

void CheckStandardOutput() {
    errno = 0;
    const bool flushFailed = std::fflush(stdout) != 0;
    const int error = errno;
    if (!flushFailed && !std::ferror(stdout)) {
        return;
    }
    // A failure seen by an earlier flush has left only the error flag behind.
    std::fprintf(stderr, "sealbench-cli: the output could not be written to standard output%s%s\n",
                 error != 0 ? ": " : "", error != 0 ? std::strerror(error) : "");
    std::fflush(stderr);
    // The exit is already under way; _Exit only changes its status.
    std::_Exit(kExitFailed);
}

}  // namespace

void FailOnLostOutput() { std::atexit(CheckStandardOutput); }

}  // namespace sealbench::cli
