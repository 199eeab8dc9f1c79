// The virtual board's USB stream on a Unix socket, non-blocking and moved by the
// bounded reads and writes of io_posix.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "common/unique_fd.h"
#include "io_posix.h"
#include "sim_stream.h"

namespace bootwire::usb {
namespace {

using sealbench::UniqueFd;

class PosixSimStream final : public SimStream {
public:
    explicit PosixSimStream(UniqueFd fd) : fd_(std::move(fd)) {}

    Error Write(const uint8_t* data, size_t n, SimClock::time_point deadline, std::string* detail) override {
        return posix::WriteAll(fd_.Get(), data, n, deadline, Idle(deadline), nullptr, detail, true);
    }
    Error Read(uint8_t* data, size_t n, SimClock::time_point deadline, size_t* received, std::string* detail) override {
        return posix::ReadSome(fd_.Get(), data, n, deadline, Idle(deadline), received, detail);
    }

private:
    // A USB transfer has one time-out for the whole transfer, no idle limit.
    static std::chrono::milliseconds Idle(SimClock::time_point deadline) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SimClock::now()) +
               std::chrono::milliseconds(1);
    }

    UniqueFd fd_;
};

UniqueFd ConnectUnix(const std::string& path, Error* error, std::string* detail) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (!fd.Valid() || path.size() >= sizeof addr.sun_path) {
        *error = Error::Io;
        *detail = "not a usable socket path";
        return {};
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int err = errno;
        *error = posix::ErrorFromErrno(err);
        *detail = std::strerror(err);
        return {};
    }
    return fd;
}

}  // namespace

bool SimSocketPresent(const SimAddress& address) {
    struct stat st {};
    return !address.tcp && ::stat(address.path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::unique_ptr<SimStream> SimConnectSocket(const std::string& path, Error* error, std::string* detail) {
    UniqueFd fd = ConnectUnix(path, error, detail);
    if (!fd.Valid()) {
        return nullptr;
    }
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) | O_NONBLOCK);
    return std::make_unique<PosixSimStream>(std::move(fd));
}

}  // namespace bootwire::usb
