// The host's side of the virtual board for its own tests: raw bytes over the pty and
// the USB socket, with bounded reads and writes, and the board process itself (the
// one helper every suite shares).
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

#include "sim_process.h"
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

using sealtest::SimProcess;

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
