#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "imagebuild/signing_process.h"

extern char** environ;

namespace sealbench {

SignResult RunSigningProcess(const SignRequest& request) {
    std::vector<std::string> arguments = SignArguments(request);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    SignResult result;
    pid_t pid = 0;
    int error = ::posix_spawnp(&pid, kSigningTool, nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        result.status = SignStatus::NotStarted;
        result.code = error;
        result.outcome = Outcome::Failure(FailureKind::Tool,
                                          std::string("Cannot start ") + kSigningTool + ": " + std::strerror(error));
        return result;
    }

    int wstatus = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &wstatus, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        result.status = SignStatus::Failed;
        result.code = errno;
        result.outcome = Outcome::Failure(FailureKind::Tool,
                                          std::string("Lost track of ") + kSigningTool + ": " + std::strerror(errno));
        return result;
    }

    if (WIFEXITED(wstatus)) {
        result.code = WEXITSTATUS(wstatus);
        // Some C libraries report an exec that failed after the fork as status 127;
        // that is a failure like any other non-zero status.
        result.status = result.code == 0 ? SignStatus::Ok : SignStatus::Failed;
        if (result.code != 0) {
            result.outcome =
                Outcome::Failure(FailureKind::Tool,
                                 std::string(kSigningTool) + " failed with exit status " + std::to_string(result.code));
        }
    } else {
        result.status = SignStatus::Killed;
        result.code = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
        result.outcome = Outcome::Failure(
            FailureKind::Tool, std::string(kSigningTool) + " was ended by signal " + std::to_string(result.code));
        if (const char* name = ::strsignal(result.code)) {
            result.outcome.message += std::string(" (") + name + ")";
        }
    }
    return result;
}

}  // namespace sealbench
