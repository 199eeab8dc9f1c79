// Any program (sealbench-cli station, for one) run as a child that goes on while the
// test watches it: both output streams are read as they come, a test waits (bounded)
// for a text to appear, signals the program, and collects its exit status.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sealtest {

class ProgramProcess {
public:
    // Starts `program` with `args`, in the test's environment.
    ProgramProcess(const std::string& program, std::vector<std::string> args);
    // Kills the program if it still runs, and waits for it.
    ~ProgramProcess();
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Signal(int signal);
    // The exit status (128 + signal when a signal ended it); -1 when it did not end
    // within `limit` (it is then killed).
    int Wait(std::chrono::seconds limit);
    // What the program used (CPU, peak memory), once Wait has seen it end.
    const rusage& Usage() const { return usage_; }

    std::string Stdout() const;
    std::string Stderr() const;
    std::vector<std::string> StdoutLines() const;
    // Waits until standard output (or error) holds `text`; false when `limit` passed first.
    bool WaitForStdout(const std::string& text, std::chrono::milliseconds limit);
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds limit);
    // Waits until standard error holds `text` after the first `after`.
    bool WaitForStderrAfter(const std::string& after, const std::string& text, std::chrono::milliseconds limit);
    // Waits until standard output has at least `count` whole lines.
    bool WaitForLines(size_t count, std::chrono::milliseconds limit);

private:
    void Read(int fd, std::string* text);

    pid_t pid_ = -1;
    int status_ = -1;
    rusage usage_{};
    mutable std::mutex mutex_;
    std::condition_variable grew_;
    std::string out_;  // under mutex_
    std::string err_;  // under mutex_
    std::thread outReader_;
    std::thread errReader_;
};

}  // namespace sealtest
