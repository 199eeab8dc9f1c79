// Runs sealbench-cli as a child process with a bounded wait, collecting its
// exit status, standard output and standard error; or beside the test, its output
// read as it comes (CliChild).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace sealtest {

struct CliResult {
    int status = -1;   // exit status; -1 when it had to be killed
    long peakKiB = 0;  // the most memory it held (resident)
    std::string out;
    std::string err;

    std::vector<std::string> OutLines() const {
        std::vector<std::string> lines;
        size_t at = 0;
        while (at < out.size()) {
            size_t end = out.find('\n', at);
            if (end == std::string::npos) end = out.size();
            lines.push_back(out.substr(at, end - at));
            at = end + 1;
        }
        return lines;
    }
};

struct CliRunOptions {
    std::chrono::seconds limit{120};
    std::string stdoutPath;            // standard output goes to this file (/dev/full...) instead of `out`
    std::vector<std::string> wrapper;  // a program that runs sealbench-cli (setpriv ... as another user)
};

inline CliResult RunCli(const std::vector<std::string>& args, const CliRunOptions& options) {
    const std::chrono::seconds limit = options.limit;
    CliResult result;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.stdoutPath.empty()) {
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.stdoutPath.c_str(), O_WRONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::vector<std::string> all = options.wrapper;
    all.push_back(SEALBENCH_CLI_PATH);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    auto deadline = std::chrono::steady_clock::now() + limit;
    bool open[2] = {spawned == 0, spawned == 0};
    while ((open[0] || open[1]) && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        if (poll(fds, 2, 200) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (!open[i] || fds[i].revents == 0) continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                open[i] = false;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            }
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    if (spawned != 0) return result;
    int status = 0;
    if (open[0] || open[1]) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return result;
    }
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.peakKiB = usage.ru_maxrss;
    return result;
}

inline CliResult RunCli(const std::vector<std::string>& args, std::chrono::seconds limit = std::chrono::seconds(120)) {
    return RunCli(args, CliRunOptions{limit, {}, {}});
}

// setpriv's prefix that runs sealbench-cli as nobody, for tests of what another user
// may not do. Empty when nobody cannot run it at all: a build tree inside a folder
// only its owner may enter (a fresh clone in mktemp -d) hides the program and its
// library from every other user.
inline std::vector<std::string> AsNobody() {
    const std::vector<std::string> prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                             "--"};
    CliRunOptions probe{std::chrono::seconds(30), {}, prefix};
    return RunCli({"--version"}, probe).status == 0 ? prefix : std::vector<std::string>{};
}

// sealbench-cli running beside the test, its output read as it comes.
class CliChild {
public:
    // Standard output is read, standard error dropped; with `readStderr` the other way round.
    explicit CliChild(const std::vector<std::string>& args, bool readStderr = false) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], readStderr ? STDERR_FILENO : STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, readStderr ? STDOUT_FILENO : STDERR_FILENO, "/dev/null", O_WRONLY,
                                         0);
        std::vector<std::string> all{SEALBENCH_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        fd_ = out[0];
        reader_ = std::thread([this] {
            char buffer[1024];
            ssize_t n;
            while ((n = read(fd_, buffer, sizeof buffer)) > 0) {
                std::lock_guard lock(mutex_);
                out_.append(buffer, static_cast<size_t>(n));
                grew_.notify_all();
            }
        });
    }
    ~CliChild() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait(std::chrono::seconds(10));
        }
        if (reader_.joinable()) reader_.join();
        close(fd_);
    }

    bool WaitForOutput(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return grew_.wait_for(lock, limit, [&] { return out_.find(text) != std::string::npos; });
    }
    void Signal(int signal) { kill(pid_, signal); }
    // The exit status, or -1 when the process did not end within `limit`.
    int Wait(std::chrono::seconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output() {
        if (reader_.joinable()) reader_.join();
        return out_;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable grew_;
    std::string out_;
};

}  // namespace sealtest
