// The real vireo-sim process for tests and benchmarks: started with pipes on its
// standard streams, reached through the pty and USB socket it announces, and ended
// by signal (collecting --dump-flash) or left to exit on its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sealtest {

class SimProcess {
public:
    // Starts vireo-sim with --cpu and the extra arguments and waits (bounded) for the
    // links it announces; with `usb` it also serves a USB socket in a fresh temporary
    // folder (with "--usb-tcp" among the extra arguments, usbSocket() is the tcp:
    // address it announced). ok() tells whether it runs, error() why not.
    SimProcess(const std::string& cpu, std::vector<std::string> extra = {}, bool usb = false);
    // Starts vireo-sim with exactly these arguments and reads nothing yet: for usage
    // errors, --help, and tests that read the announcement with Ready(). With
    // drainStderr false its standard error goes to a pipe nobody reads, as with a
    // harness that looks at it only at the end.
    explicit SimProcess(std::vector<std::string> args, bool drainStderr = true);
    // SimProcess({"--cpu", "VireoB"}) means these arguments, not a processor name.
    explicit SimProcess(std::initializer_list<std::string> args, bool drainStderr = true)
        : SimProcess(std::vector<std::string>(args), drainStderr) {}
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ok() const { return pid_ > 0 && !serial_.empty() && error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& serial() const { return serial_; }
    const std::string& usbSocket() const { return usb_; }
    pid_t Pid() const { return pid_; }
    // A file in the process's temporary folder.
    std::string TempPath(const std::string& name) const { return dir_ + "/" + name; }

    // Reads the "serial:" (and "usb:") lines; false when they did not come in time.
    bool Ready(bool usb = false);
    // The next line of standard output within the wait limit ("" when none came).
    std::string Line();
    // Everything the process writes to standard output until it closes it.
    std::string Output();

    // SIGTERM and wait (bounded); the exit status, or -1.
    int Stop();
    // Waits for the process to end on its own: its exit status (128 + signal when a
    // signal ended it), or -1 when it did not end within `seconds`.
    int Wait(int seconds = 60);
    void Signal(int signal);

    // What the board wrote on stderr so far.
    std::string Stderr();
    // Waits (bounded) until the board's stderr holds `text`.
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20));

private:
    void Start(std::vector<std::string> args, bool drainStderr);
    int Reap(int seconds, bool terminate);

    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    std::string serial_;
    std::string usb_;
    std::string dir_;
    std::string error_;

    std::thread stderrReader_;
    std::mutex mutex_;
    std::condition_variable stderrGrew_;
    std::string stderrText_;  // under mutex_
};

// Path of the vireo-sim executable under test (set by the build, or $VIREO_SIM).
std::string SimExecutable();

// Reads a whole file; empty when it cannot be read.
std::vector<unsigned char> ReadFile(const std::string& path);

}  // namespace sealtest
