#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

extern char** environ;

namespace sealtest {
namespace {

constexpr auto kLineLimit = std::chrono::seconds(20);
constexpr auto kOutputLimit = std::chrono::seconds(60);

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

// Reads from fd until `done` says so, end of file, or the deadline.
template <typename Done>
std::string ReadUntil(int fd, std::chrono::steady_clock::time_point deadline, Done done) {
    std::string text;
    while (fd >= 0 && !done(text)) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) {
            break;
        }
        char c;
        if (::read(fd, &c, 1) != 1) {
            break;
        }
        text += c;
    }
    return text;
}

// The test's environment without umockdev's preload and test bed: a test that
// runs under umockdev-wrapper is a USB host, the board never is.
std::vector<std::string> BoardEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string_view entry(*e);
        bool preload = entry.rfind("LD_PRELOAD=", 0) == 0 && entry.find("umockdev") != std::string_view::npos;
        if (!preload && entry.rfind("UMOCKDEV_DIR=", 0) != 0) {
            env.emplace_back(entry);
        }
    }
    return env;
}

}  // namespace

std::string SimExecutable() {
    const char* fromEnv = std::getenv("VIREO_SIM");
    return fromEnv ? fromEnv : VIREO_SIM_PATH;
}

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

SimProcess::SimProcess(const std::string& cpu, std::vector<std::string> extra, bool usb) {
    char pattern[] = "/tmp/sealbench-sim-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    std::vector<std::string> args = {"--cpu", cpu};
    if (usb) {
        args.push_back("--usb-socket");
        args.push_back(dir_ + "/usb.sock");
    }
    // --usb-tcp among the extra arguments makes the board announce its port too.
    bool announcesUsb = usb || std::find(extra.begin(), extra.end(), "--usb-tcp") != extra.end();
    args.insert(args.end(), extra.begin(), extra.end());
    Start(std::move(args), true);
    if (pid_ > 0 && !Ready(announcesUsb)) {
        error_ = "vireo-sim did not announce its links: " + Stderr();
    }
}

SimProcess::SimProcess(std::vector<std::string> args, bool drainStderr) { Start(std::move(args), drainStderr); }

void SimProcess::Start(std::vector<std::string> args, bool drainStderr) {
    args.insert(args.begin(), SimExecutable());
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> env = BoardEnvironment();
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    int r = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    stdoutFd_ = out[0];
    stderrFd_ = err[0];
    if (r != 0) {
        pid_ = -1;
        error_ = std::string("cannot start ") + argv[0];
        return;
    }
    if (!drainStderr) {
        return;
    }
    stderrReader_ = std::thread([this] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(stderrFd_, buffer, sizeof buffer)) > 0) {
            {
                std::lock_guard lock(mutex_);
                stderrText_.append(buffer, static_cast<size_t>(n));
            }
            stderrGrew_.notify_all();
        }
    });
}

SimProcess::~SimProcess() {
    Stop();
    if (stderrReader_.joinable()) {
        stderrReader_.join();
    }
    for (int fd : {stdoutFd_, stderrFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool SimProcess::Ready(bool usb) {
    std::string line = Line();
    if (line.rfind("serial: ", 0) != 0) {
        return false;
    }
    serial_ = line.substr(8);
    if (usb) {
        line = Line();
        if (line.rfind("usb: ", 0) != 0) {
            return false;
        }
        usb_ = line.substr(5);
    }
    return true;
}

std::string SimProcess::Line() {
    std::string line = ReadUntil(stdoutFd_, std::chrono::steady_clock::now() + kLineLimit,
                                 [](const std::string& text) { return !text.empty() && text.back() == '\n'; });
    if (line.empty() || line.back() != '\n') {
        return {};
    }
    line.pop_back();
    return line;
}

std::string SimProcess::Output() {
    return ReadUntil(stdoutFd_, std::chrono::steady_clock::now() + kOutputLimit,
                     [](const std::string&) { return false; });
}

void SimProcess::Signal(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

int SimProcess::Reap(int seconds, bool terminate) {
    if (pid_ <= 0) {
        return -1;
    }
    if (terminate) {
        ::kill(pid_, SIGTERM);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() >= deadline) {
            if (!terminate) {
                return -1;  // still running; the caller may wait again or stop it
            }
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    if (stderrReader_.joinable()) {
        stderrReader_.join();  // the pipe ends with the process: everything it said is in
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int SimProcess::Stop() {
    int status = Reap(30, true);
    return status >= 128 ? -1 : status;
}

int SimProcess::Wait(int seconds) { return Reap(seconds, false); }

std::string SimProcess::Stderr() {
    std::lock_guard lock(mutex_);
    return stderrText_;
}

bool SimProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return stderrGrew_.wait_for(lock, limit, [&] { return stderrText_.find(text) != std::string::npos; });
}

}  // namespace sealtest
