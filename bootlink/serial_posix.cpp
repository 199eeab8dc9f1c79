// Serial transport on POSIX terminals: exclusive open, 115200 baud, raw 8-bit
// bytes with the boot ROM's parity and stop bits, reads bounded like the boot
// ROM's line time-outs (3 s plus 5 ms a byte).
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/unique_fd.h"
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
        : fd_(std::move(fd)), path_(std::move(path)), bitsPerByte_(bitsPerByte) {}

    Error Send(const uint8_t* data, size_t n, const SendObserver* sent) override {
        // Twice the line time of the bytes, plus a second for the target to start
        // reading; a line that takes nothing for 3 s is stuck whatever is left.
        auto lineTime = std::chrono::microseconds(static_cast<long long>(n) * bitsPerByte_ * 1'000'000 / 115200);
        auto deadline = posix::Clock::now() + 2 * lineTime + 1s;
        std::string detail;
        Error e = posix::WriteAll(fd_.Get(), data, n, deadline, 3000ms, sent, &detail);
        return e == Error::Ok ? e : Fail(e, path_ + ": " + detail);
    }

    Error Receive(uint8_t* data, size_t n, size_t* received) override {
        auto deadline = posix::Clock::now() + 3000ms + std::chrono::milliseconds(5 * static_cast<long long>(n));
        std::string detail;
        Error e = posix::ReadSome(fd_.Get(), data, n, deadline, 3000ms, received, &detail);
        return e == Error::Ok ? e : Fail(e, path_ + ": " + detail);
    }

    std::string Describe() const override { return path_; }

private:
    UniqueFd fd_;
    std::string path_;
    int bitsPerByte_;
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
        return nullptr;
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
