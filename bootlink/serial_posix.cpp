// Serial transport on POSIX terminals: exclusive open, 115200 baud, raw 8-bit
// bytes with the boot ROM's parity and stop bits, reads bounded like the boot
// ROM's line time-outs (3 s plus 5 ms a byte). A flash program that raises the
// line's speed has the host follow with SetLineSpeed.
//
// Exclusive means an advisory lock (flock) taken right after open(), before the
// port's settings are touched or a byte is sent. TIOCEXCL alone does not bind a
// privileged process and leaves a gap between open() and the ioctl in which a
// second program can get the port too; two runs interleaving their frames on one
// board can leave a flash that holds neither image while one of them reports
// success. The lock binds everyone and ends with the descriptor.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "common/unique_fd.h"
#include "control_lines.h"
#include "io_posix.h"
#include "port_openers.h"

namespace bootwire {
namespace {

using sealbench::UniqueFd;

using namespace std::chrono_literals;

// Linux numbers the devpts slaves with majors 136 to 143.
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    unsigned int maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;
}

// The program holding an advisory lock on `device`, as "NAME, pid N", from the
// kernel's table of locks; empty when it cannot be told.
std::string LockHolder(const struct stat& device) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 4242 00:19:5 0 EOF"; waiters carry "->".
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> number >> kind) || kind == "->" || !(fields >> mode >> access >> pid >> where)) {
            continue;
        }
        unsigned devMajor = 0, devMinor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &devMajor, &devMinor, &inode) != 3 ||
            devMajor != major(device.st_dev) || devMinor != minor(device.st_dev) || inode != device.st_ino ||
            pid <= 0) {
            continue;
        }
        std::string name;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::getline(comm, name);
        return (name.empty() ? std::string() : name + ", ") + "pid " + std::to_string(pid);
    }
    return {};
}

std::string PortInUse(const std::string& path, const struct stat* device) {
    std::string text = path + ": port in use by another program";
    std::string holder = device != nullptr ? LockHolder(*device) : std::string();
    return holder.empty() ? text : text + " (" + holder + ")";
}

// The termios code of a speed; 0 when the platform has none for it.
speed_t SpeedCode(int baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
#ifdef B460800
        case 460800:
            return B460800;
#endif
#ifdef B921600
        case 921600:
            return B921600;
#endif
#ifdef B1000000
        case 1000000:
            return B1000000;
        case 1500000:
            return B1500000;
        case 2000000:
            return B2000000;
        case 3000000:
            return B3000000;
#endif
        default:
            return 0;
    }
}

// "3" means COM3, the platform's third serial port; anything else is a path.
std::string DevicePath(const std::string& port) {
    bool digits = !port.empty() && port.size() <= 7 && port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits) {
        return port;
    }
    long number = std::stol(port);
    if (number < 1) {
        return port;
    }
#if defined(__APPLE__)
    return "/dev/cu.serial" + std::to_string(number);
#else
    return "/dev/ttyS" + std::to_string(number - 1);
#endif
}

class SerialPosix final : public Transport {
public:
    SerialPosix(UniqueFd fd, std::string path, int bitsPerByte)
        : fd_(std::move(fd)),
          path_(std::move(path)),
          bitsPerByte_(bitsPerByte),
          pseudoTerminal_(IsPseudoTerminal(fd_.Get())) {}

    Error Send(const uint8_t* data, size_t n, const SendObserver* sent) override {
        // Twice the line time of the bytes, plus a second for the target to start
        // reading; a line that takes nothing for 3 s is stuck whatever is left.
        auto deadline = posix::Clock::now() + 2 * LineTime(n) + 1s;
        std::string detail;
        Error e = posix::WriteAll(fd_.Get(), data, n, deadline, 3000ms, sent, &detail);
        return e == Error::Ok ? e : Fail(e, path_ + ": " + detail);
    }

    Error Receive(uint8_t* data, size_t n, size_t* received) override {
        auto now = posix::Clock::now();
        auto deadline = now + 3000ms + std::chrono::milliseconds(5 * static_cast<long long>(n));
        std::chrono::milliseconds idle = 3000ms;
        if (limitMs_ > 0) {
            // The cap bounds the waiting, not the time the bytes need on the line.
            deadline = std::min(deadline, now + std::chrono::milliseconds(limitMs_) + 2 * LineTime(n));
            idle = std::min(idle, std::chrono::milliseconds(limitMs_));
        }
        std::string detail;
        Error e = posix::ReadSome(fd_.Get(), data, n, deadline, idle, received, &detail);
        return e == Error::Ok ? e : Fail(e, path_ + ": " + detail);
    }

    std::string Describe() const override { return path_; }
    size_t StopSlice() const override { return kSerialStopSlice; }

    void SetReceiveTimeoutLimit(int milliseconds) override { limitMs_ = milliseconds > 0 ? milliseconds : 0; }

    Error SetLineSpeed(int baud) override {
        const speed_t code = SpeedCode(baud);
        if (code == 0) {
            return Fail(Error::Unsupported,
                        path_ + ": " + std::to_string(baud) + " baud is not a speed this system offers");
        }
        termios tio{};
        if (::tcgetattr(fd_.Get(), &tio) != 0) {
            return Fail(Error::Settings, path_ + ": cannot read the line settings: " + std::strerror(errno));
        }
        ::cfsetispeed(&tio, code);
        ::cfsetospeed(&tio, code);
        // TCSADRAIN: bytes already written leave at the speed they were meant for.
        if (::tcsetattr(fd_.Get(), TCSADRAIN, &tio) != 0) {
            return Fail(Error::Settings,
                        path_ + ": cannot set " + std::to_string(baud) + " baud: " + std::strerror(errno));
        }
        termios now{};
        if (::tcgetattr(fd_.Get(), &now) != 0 || ::cfgetospeed(&now) != code || ::cfgetispeed(&now) != code) {
            return Fail(Error::Settings, path_ + ": the port refused " + std::to_string(baud) + " baud");
        }
        baud_ = baud;
        return Error::Ok;
    }

    Error SetControlLine(ControlLine line, bool on) override {
        // The kernel would say ENOTTY, which tells a user nothing about why.
        if (pseudoTerminal_) {
            return Fail(Error::Unsupported, path_ + ": a pseudo-terminal has no DTR/RTS lines");
        }
        int bits = line == ControlLine::Dtr ? TIOCM_DTR : TIOCM_RTS;
        if (::ioctl(fd_.Get(), on ? TIOCMBIS : TIOCMBIC, &bits) == 0) {
            return Error::Ok;
        }
        const int err = errno;
        const std::string what = path_ + ": cannot set " + ControlLineText(line, on) + ": " + std::strerror(err);
        if (err == ENOTTY || err == EINVAL) {
            return Fail(Error::Unsupported, what + " (the port has no modem-control lines)");
        }
        if (err == EIO || err == ENXIO || err == ENODEV) {
            return Fail(Error::Gone, what + " (the port went away)");
        }
        return Fail(posix::ErrorFromErrno(err), what);
    }

private:
    std::chrono::microseconds LineTime(size_t n) const {
        return std::chrono::microseconds(static_cast<long long>(n) * bitsPerByte_ * 1'000'000 / baud_);
    }

    UniqueFd fd_;
    std::string path_;
    int bitsPerByte_;
    int baud_ = 115200;
    int limitMs_ = 0;
    bool pseudoTerminal_;
};

// Applies the boot ROM's line settings. Returns false with a reason when a real
// UART did not take them; a pseudo-terminal cannot hold parity and is let off.
bool ApplyLineSettings(int fd, int lineMode, int* bitsPerByte, std::string* why) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        *why = std::string("cannot read the line settings: ") + std::strerror(errno);
        return false;
    }
    const tcflag_t keptParity = tio.c_cflag & (PARENB | PARODD | CSTOPB);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);  // parity is sent but not checked
    switch (lineMode) {
        case static_cast<int>(LineMode::OddParityTwoStop):
            tio.c_cflag |= PARENB | PARODD | CSTOPB;
            break;
        case static_cast<int>(LineMode::NoParityOneStop):
            break;
        default:
            tio.c_cflag |= keptParity;
            break;
    }
    // With O_NONBLOCK, VMIN 1 makes an empty read say EAGAIN rather than 0 (end of file).
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const tcflag_t wanted = tio.c_cflag;
    ::tcsetattr(fd, TCSANOW, &tio);  // judged by what the port holds afterwards

    termios now{};
    if (::tcgetattr(fd, &now) != 0) {
        *why = std::string("cannot read back the line settings: ") + std::strerror(errno);
        return false;
    }
    tcflag_t checked = CSIZE | CSTOPB | PARENB | PARODD;
    if (IsPseudoTerminal(fd)) {
        checked = CSTOPB;  // the kernel forces CS8 and clears PARENB on a pty
    }
    bool speedOk = ::cfgetospeed(&now) == B115200 && ::cfgetispeed(&now) == B115200;
    if (!speedOk || (now.c_cflag & checked) != (wanted & checked)) {
        *why = "the port refused the line settings (115200 baud, 8 data bits, parity and stop bits of line mode " +
               std::to_string(lineMode) + ")";
        return false;
    }
    const bool parity = wanted & PARENB;
    *bitsPerByte = 1 + 8 + (parity ? 1 : 0) + ((wanted & CSTOPB) ? 2 : 1);
    return true;
}

}  // namespace

std::unique_ptr<Transport> OpenLocalSerial(const std::string& port, int lineMode, Error* error, std::string* detail) {
    const std::string path = DevicePath(port);
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        int err = errno;
        *error = posix::ErrorFromErrno(err);
        *detail = "cannot open " + path + ": " + std::strerror(err);
        struct stat device {};
        if (err == EBUSY) {  // another program's TIOCEXCL
            *detail = PortInUse(path, ::stat(path.c_str(), &device) == 0 ? &device : nullptr);
        }
        return nullptr;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        struct stat device {};
        if (err == EWOULDBLOCK) {
            *error = Error::Busy;
            *detail = PortInUse(path, ::fstat(fd.Get(), &device) == 0 ? &device : nullptr);
            return nullptr;
        }
        // A device whose file system keeps no locks (ENOLCK) still has TIOCEXCL below.
    }
    if (!::isatty(fd.Get())) {
        *error = Error::NotFound;
        *detail = path + " is not a serial port";
        return nullptr;
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
        int err = errno;
        *error = posix::ErrorFromErrno(err);
        *detail = "cannot open " + path + " exclusively: " + std::strerror(err);
        return nullptr;
    }
    int bitsPerByte = 12;
    std::string why;
    bool settingsTaken = ApplyLineSettings(fd.Get(), lineMode, &bitsPerByte, &why);
    // DTR and RTS on; a pty has no modem lines and says ENOTTY/EINVAL.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd.Get(), TIOCMBIS, &lines);
    ::tcflush(fd.Get(), TCIOFLUSH);  // nothing stale from an earlier session
    auto transport = std::make_unique<SerialPosix>(std::move(fd), path, bitsPerByte);
    if (!settingsTaken) {
        // The port stays open, as the boot ROM tools always left it, but the caller hears of it.
        *error = Error::Settings;
        *detail = path + ": " + why;
    }
    return transport;
}

}  // namespace bootwire
