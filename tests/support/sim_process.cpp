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
#include <thread>

extern char** environ;

namespace sealtest {
namespace {

// One line from fd within the time limit; empty on time-out or end of file.
std::string ReadLine(int fd, std::chrono::milliseconds limit) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (::poll(&p, 1, std::max(left, 0)) <= 0) {
            break;
        }
        char c;
        if (::read(fd, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
    return {};
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
    std::vector<std::string> args = {SimExecutable(), "--cpu", cpu};
    if (usb) {
        args.push_back("--usb-socket");
        args.push_back(dir_ + "/usb.sock");
    }
    // --usb-tcp among the extra arguments makes the board announce its port too.
    bool announcesUsb = usb || std::find(extra.begin(), extra.end(), "--usb-tcp") != extra.end();
    args.insert(args.end(), extra.begin(), extra.end());
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
    int r = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    stdoutFd_ = out[0];
    stderrFd_ = err[0];
    ::fcntl(stderrFd_, F_SETFL, O_NONBLOCK);
    if (r != 0) {
        pid_ = -1;
        error_ = std::string("cannot start ") + argv[0];
        return;
    }
    std::string first = ReadLine(stdoutFd_, std::chrono::seconds(20));
    if (first.rfind("serial: ", 0) != 0) {
        error_ = "vireo-sim did not announce its pty: '" + first + "' " + Stderr();
        return;
    }
    serial_ = first.substr(8);
    if (announcesUsb) {
        std::string second = ReadLine(stdoutFd_, std::chrono::seconds(20));
        if (second.rfind("usb: ", 0) != 0) {
            error_ = "vireo-sim did not announce its USB socket: '" + second + "'";
            return;
        }
        usb_ = second.substr(5);
    }
}

SimProcess::~SimProcess() {
    Stop();
    if (stdoutFd_ >= 0) {
        ::close(stdoutFd_);
    }
    if (stderrFd_ >= 0) {
        ::close(stderrFd_);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void SimProcess::Signal(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

int SimProcess::Stop() {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {  // up to 30 s
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

bool SimProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (Stderr().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string SimProcess::Stderr() {
    char buffer[4096];
    ssize_t n;
    while (stderrFd_ >= 0 && (n = ::read(stderrFd_, buffer, sizeof buffer)) > 0) {
        stderrText_.append(buffer, static_cast<size_t>(n));
    }
    return stderrText_;
}

}  // namespace sealtest
