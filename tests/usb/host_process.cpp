#include "host_process.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

extern char** environ;

namespace sealtest {

HostResult RunHost(const std::string& program, const std::vector<std::string>& args, const HostOptions& options) {
    HostResult result;
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string_view entry(*e);
        if (entry.rfind("UMOCKDEV_DIR=", 0) != 0 && entry.rfind("BOOTWIRE_USB_SIM=", 0) != 0) env.emplace_back(entry);
    }
    if (!options.umockdevDir.empty()) env.push_back("UMOCKDEV_DIR=" + options.umockdevDir);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return result;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        if (options.withoutFileOverride) {
            // Gone from the bounding set, the capabilities are not regained by exec.
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    auto deadline = std::chrono::steady_clock::now() + options.limit;
    bool open[2] = {pid > 0, pid > 0};
    while ((open[0] || open[1]) && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, 200) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (!open[i] || fds[i].revents == 0) continue;
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0)
                open[i] = false;
            else
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (pid <= 0) return result;
    int status = 0;
    if (open[0] || open[1]) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return result;
    }
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace sealtest
