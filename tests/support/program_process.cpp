#include "program_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace sealtest {

ProgramProcess::ProgramProcess(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    outReader_ = std::thread([this, fd = out[0]] { Read(fd, &out_); });
    errReader_ = std::thread([this, fd = err[0]] { Read(fd, &err_); });
}

ProgramProcess::~ProgramProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outReader_.joinable()) outReader_.join();
    if (errReader_.joinable()) errReader_.join();
}

// Until the pipe closes: the program and whatever it started have let go of it.
void ProgramProcess::Read(int fd, std::string* text) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        {
            std::lock_guard lock(mutex_);
            text->append(buffer, static_cast<size_t>(n));
        }
        grew_.notify_all();
    }
    ::close(fd);
}

void ProgramProcess::Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

int ProgramProcess::Wait(std::chrono::seconds limit) {
    if (pid_ <= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::wait4(pid_, &status, WNOHANG, &usage_) != pid_) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::wait4(pid_, &status, 0, &usage_);
            pid_ = -1;
            return status_ = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // Everything it wrote is in once its pipes close.
    if (outReader_.joinable()) outReader_.join();
    if (errReader_.joinable()) errReader_.join();
    return status_;
}

std::string ProgramProcess::Stdout() const {
    std::lock_guard lock(mutex_);
    return out_;
}

std::string ProgramProcess::Stderr() const {
    std::lock_guard lock(mutex_);
    return err_;
}

std::vector<std::string> ProgramProcess::StdoutLines() const {
    const std::string text = Stdout();
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

bool ProgramProcess::WaitForStdout(const std::string& text, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return grew_.wait_for(lock, limit, [&] { return out_.find(text) != std::string::npos; });
}

bool ProgramProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return grew_.wait_for(lock, limit, [&] { return err_.find(text) != std::string::npos; });
}

bool ProgramProcess::WaitForStderrAfter(const std::string& after, const std::string& text,
                                        std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return grew_.wait_for(lock, limit, [&] {
        const size_t at = err_.find(after);
        return at != std::string::npos && err_.find(text, at + after.size()) != std::string::npos;
    });
}

bool ProgramProcess::WaitForLines(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return grew_.wait_for(lock, limit,
                          [&] { return static_cast<size_t>(std::count(out_.begin(), out_.end(), '\n')) >= count; });
}

}  // namespace sealtest
