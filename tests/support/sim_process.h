// Runs the real vireo-sim process for tests: starts it, reads the pty and USB
// socket it announces, and ends it (collecting --dump-flash) on request.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace sealtest {

class SimProcess {
public:
    // Starts vireo-sim with --cpu and the extra arguments; with `usb` it also serves
    // a USB socket in a fresh temporary folder (with "--usb-tcp" among the extra
    // arguments, usbSocket() is the tcp: address it announced). ok() tells whether it
    // runs, error() why not.
    SimProcess(const std::string& cpu, std::vector<std::string> extra = {}, bool usb = false);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ok() const { return pid_ > 0 && !serial_.empty() && error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& serial() const { return serial_; }
    const std::string& usbSocket() const { return usb_; }
    // A file in the process's temporary folder.
    std::string TempPath(const std::string& name) const { return dir_ + "/" + name; }

    // SIGTERM and wait (bounded); the exit status, or -1.
    int Stop();
    // What the board wrote on stderr so far (drained without blocking).
    std::string Stderr();
    // Waits (bounded) until the board's stderr holds `text`.
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20));
    void Signal(int signal);

private:
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    std::string serial_;
    std::string usb_;
    std::string dir_;
    std::string stderrText_;
    std::string error_;
};

// Path of the vireo-sim executable under test (set by the build).
std::string SimExecutable();

// Reads a whole file; empty when it cannot be read.
std::vector<unsigned char> ReadFile(const std::string& path);

}  // namespace sealtest
