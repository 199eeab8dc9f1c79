// TCP streams on POSIX sockets: a name lookup and a non-blocking connect that
// both end by the caller's deadline, then bounded reads and writes.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "common/unique_fd.h"
#include "io_posix.h"
#include "tcp_connect.h"
#include "tcp_stream.h"

namespace bootwire {
namespace {

using sealbench::UniqueFd;
using Clock = TcpStream::Clock;

// Enough to keep a fast relay busy, little enough that what waits on our side of
// a 115200 baud line (and so the bound on a stuck one) stays a few seconds.
constexpr int kSendBuffer = 64 * 1024;

int MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

Error ConnectError(int err) {
    switch (err) {
        case ECONNREFUSED:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case EADDRNOTAVAIL:
            return Error::NotFound;
        case ETIMEDOUT:
            return Error::Timeout;
        default:
            return posix::ErrorFromErrno(err);
    }
}

// One connect attempt; Error::Ok with the connected socket in *fd.
Error ConnectOne(const addrinfo& address, Clock::time_point deadline, UniqueFd* fd, int* err) {
    UniqueFd s(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol));
    if (!s.Valid()) {
        *err = errno;
        return posix::ErrorFromErrno(*err);
    }
    int size = kSendBuffer;
    ::setsockopt(s.Get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    if (::connect(s.Get(), address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            *err = errno;
            return ConnectError(*err);
        }
        for (;;) {
            pollfd p{s.Get(), POLLOUT, 0};
            int wait = MillisecondsUntil(deadline);
            int r = wait > 0 ? ::poll(&p, 1, wait) : 0;
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r == 0) {
                *err = ETIMEDOUT;
                return Error::Timeout;
            }
            break;
        }
        int soError = 0;
        socklen_t length = sizeof soError;
        if (::getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, &soError, &length) != 0) {
            soError = errno;
        }
        if (soError != 0) {
            *err = soError;
            return ConnectError(soError);
        }
    }
    int on = 1;
    ::setsockopt(s.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    *fd = std::move(s);
    return Error::Ok;
}

class PosixTcpStream final : public TcpStream {
public:
    explicit PosixTcpStream(UniqueFd fd) : fd_(std::move(fd)) {}

    Error Write(const uint8_t* data, size_t n, Clock::time_point deadline, std::chrono::milliseconds idle,
                const SendObserver* sent, std::string* detail) override {
        Error e = posix::WriteAll(fd_.Get(), data, n, deadline, idle, sent, detail, true);
        if (e == Error::Gone) {
            *detail = "the server closed the connection (" + *detail + ")";
        }
        return e;
    }

    Error ReadAvailable(uint8_t* data, size_t max, Clock::time_point deadline, size_t* got,
                        std::string* detail) override {
        *got = 0;
        for (;;) {
            ssize_t r = ::recv(fd_.Get(), data, max, MSG_DONTWAIT);
            if (r > 0) {
                *got = static_cast<size_t>(r);
                return Error::Ok;
            }
            if (r == 0) {
                *detail = "the server closed the connection";
                return Error::Gone;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                int err = errno;
                if (err == ECONNRESET || err == EPIPE || err == ENOTCONN) {
                    *detail = std::string("the server closed the connection (") + std::strerror(err) + ")";
                    return Error::Gone;
                }
                *detail = std::string("the connection failed: ") + std::strerror(err);
                return Error::Io;
            }
            int wait = MillisecondsUntil(deadline);
            if (wait == 0) {
                return Error::Timeout;
            }
            pollfd p{fd_.Get(), POLLIN, 0};
            if (::poll(&p, 1, wait) < 0 && errno != EINTR) {
                *detail = std::string("poll failed: ") + std::strerror(errno);
                return Error::Io;
            }
        }
    }

private:
    UniqueFd fd_;
};

}  // namespace

TcpStream::~TcpStream() = default;

std::unique_ptr<TcpStream> TcpStream::Connect(const std::string& host, const std::string& port,
                                              std::chrono::milliseconds limit, Error* error, std::string* detail) {
    return tcp::ConnectAny<UniqueFd>(
        host, port, limit, error, detail, ConnectOne,
        [](UniqueFd handle) -> std::unique_ptr<TcpStream> {
            return std::make_unique<PosixTcpStream>(std::move(handle));
        },
        [](int code) { return std::string(::gai_strerror(code)); },
        [](int code) { return std::string(std::strerror(code)); });
}

std::vector<std::string> TcpStream::Addresses(const std::string& host, std::chrono::milliseconds limit) {
    Error error = Error::Ok;
    std::string detail;
    tcp::AddrInfoList list = tcp::Resolve(host, "1", Clock::now() + limit, &error, &detail,
                                          [](int code) { return std::string(::gai_strerror(code)); });
    return tcp::NumericAddresses(list.get());
}

}  // namespace bootwire
