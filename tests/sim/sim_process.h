// The real vireo-sim process for tests: started with pipes on its standard
// streams, reached through the pty it names and its USB socket, ended by signal.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim_support.h"

namespace simtest {

inline constexpr int kWaitSeconds = 60;

// Reads up to n bytes from fd within `seconds`; fewer when the time ran out.
inline Bytes ReadFor(int fd, size_t n, int seconds = kWaitSeconds) {
    Bytes out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (out.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) continue;
        uint8_t buf[65536];
        ssize_t got = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (got <= 0) {
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            break;
        }
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

// Writes all bytes within `seconds`; false when the other side stopped reading.
inline bool WriteFor(int fd, const uint8_t* data, size_t n, int seconds = kWaitSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (n > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, int(left.count())) <= 0) continue;
        ssize_t put = ::write(fd, data, n);
        if (put < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        data += put;
        n -= size_t(put);
    }
    return true;
}

inline bool WriteFor(int fd, const Bytes& b, int seconds = kWaitSeconds) {
    return WriteFor(fd, b.data(), b.size(), seconds);
}

class SimProcess {
public:
    // With drainStderr false the process's standard error goes to a pipe nobody reads,
    // as with a harness that looks at it only at the end.
    explicit SimProcess(std::vector<std::string> args, bool drainStderr = true) {
        // Everything the child needs is built before fork: after it, only calls that are
        // safe in a copy of a threaded process.
        std::string exe = VIREO_SIM_PATH;
        std::vector<char*> argv;
        argv.push_back(exe.data());
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (!drainStderr) return;
        errReader_ = std::thread([this] {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(err_, buf, sizeof buf)) > 0) {
                std::lock_guard lock(mutex_);
                stderr_.append(buf, size_t(n));
            }
        });
    }

    ~SimProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (errReader_.joinable()) errReader_.join();
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    // The next line of standard output, within the wait limit ("" when none came).
    std::string Line() {
        std::string line;
        for (;;) {
            Bytes b = ReadFor(out_, 1);
            if (b.empty() || b[0] == '\n') return line;
            line += char(b[0]);
        }
    }

    // Everything the process writes to standard output until it closes it.
    std::string Output() {
        Bytes b = ReadFor(out_, size_t{1} << 20);
        return std::string(b.begin(), b.end());
    }

    // Reads the "serial:" (and "usb:") lines; false when they did not come.
    bool Ready(bool usb = false) {
        std::string s = Line();
        if (s.rfind("serial: ", 0) != 0) return false;
        serialPath_ = s.substr(8);
        if (usb) {
            std::string u = Line();
            if (u.rfind("usb: ", 0) != 0) return false;
            usbPath_ = u.substr(5);
        }
        return true;
    }

    const std::string& SerialPath() const { return serialPath_; }
    const std::string& UsbPath() const { return usbPath_; }
    pid_t Pid() const { return pid_; }
    void Signal(int sig) { kill(pid_, sig); }

    // The exit status, or -1 when the process did not end within the wait limit.
    int Wait(int seconds = kWaitSeconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        int status = 0;
        for (;;) {
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) break;
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        exited_ = true;
        if (errReader_.joinable()) errReader_.join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string Stderr() {
        std::lock_guard lock(mutex_);
        return stderr_;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int out_ = -1, err_ = -1;
    std::thread errReader_;
    std::mutex mutex_;
    std::string stderr_;
    std::string serialPath_, usbPath_;
};

// The host's end of the pty, as a serial port library would set it up.
inline int OpenSerial(const std::string& path, speed_t speed = B115200, bool twoStopBits = false) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (twoStopBits)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~tcflag_t(CSTOPB);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

inline int ConnectUsb(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A frame and its answer of n bytes.
inline Bytes Exchange(int fd, const Bytes& frame, size_t n, int seconds = kWaitSeconds) {
    if (!WriteFor(fd, frame, seconds)) return {};
    return ReadFor(fd, n, seconds);
}

}  // namespace simtest
