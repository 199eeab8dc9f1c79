#include "umockdev_companion.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "log.h"

extern char** environ;

namespace vsim {
namespace {

constexpr auto kStartLimit = std::chrono::seconds(20);
constexpr auto kStopLimit = std::chrono::seconds(5);

std::string CompanionPath() {
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/vireo-usb-umockdev";
}

// One line from fd within the limit; empty on time-out or end of file.
std::string ReadLine(int fd, std::chrono::steady_clock::time_point deadline) {
    std::string line;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
        char c;
        if (::read(fd, &c, 1) != 1) return {};
        if (c == '\n') return line;
        line += c;
    }
}

}  // namespace

UmockdevCompanion::UmockdevCompanion(const std::string& boardSocket, const std::vector<std::string>& faults) {
    std::vector<std::string> args = {CompanionPath(), "--board-socket", boardSocket};
    for (const std::string& fault : faults) {
        args.push_back("--fault");
        args.push_back(fault);
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
    }
    sealbench::UniqueFd outRead(out[0]), errRead(err[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // The board blocks these for its own loop; the companion must get them.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    // Under umockdev's preload, as umockdev-wrapper would start it: the udev events
    // it sends hosts are read from the test bed's sysfs through the preload.
    std::vector<std::string> env;
    // In a sanitizer build the preload comes before the sanitizer's runtime, which
    // AddressSanitizer accepts only when told to.
    std::string preload = "LD_PRELOAD=libumockdev-preload.so.0";
    std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        if (entry.rfind("LD_PRELOAD=", 0) == 0)
            preload += ":" + entry.substr(11);
        else if (entry.rfind("ASAN_OPTIONS=", 0) == 0)
            asan += ":" + entry.substr(13);
        else if (entry.rfind("UMOCKDEV_DIR=", 0) != 0)
            env.push_back(entry);
    }
    env.push_back(preload);
    env.push_back(asan);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    int r = posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (r != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(r) +
                                 (r == ENOENT ? " (it is built when libumockdev-dev is installed)" : ""));
    }
    int errFd = errRead.Release();
    diagnostics_ = std::thread([errFd] {
        sealbench::UniqueFd fd(errFd);
        std::string line;
        char buffer[1024];
        for (;;) {
            ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != '\n') {
                    line += buffer[i];
                    continue;
                }
                LogLine(line);
                line.clear();
            }
        }
        if (!line.empty()) LogLine(line);
    });
    std::string first = ReadLine(outRead.Get(), std::chrono::steady_clock::now() + kStartLimit);
    if (first.rfind("umockdev: ", 0) != 0) {
        Stop();
        throw std::runtime_error(args[0] + " did not set up its umockdev test bed");
    }
    dir_ = first.substr(10);
}

UmockdevCompanion::~UmockdevCompanion() { Stop(); }

void UmockdevCompanion::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + kStopLimit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            ::usleep(10000);
        }
        pid_ = -1;
    }
    if (diagnostics_.joinable()) diagnostics_.join();
}

PrivateSocketDir::PrivateSocketDir() {
    char pattern[] = "/tmp/vireo-usb-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error(std::string("cannot create a folder in /tmp: ") + std::strerror(errno));
    dir_ = pattern;
}

PrivateSocketDir::~PrivateSocketDir() { ::rmdir(dir_.c_str()); }

}  // namespace vsim
