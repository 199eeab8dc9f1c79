// TCP streams on Winsock: a name lookup and a non-blocking connect that both end
// by the caller's deadline, then bounded reads and writes waited for with select.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "common/win32_support.h"
#include "tcp_connect.h"
#include "tcp_stream.h"

namespace bootwire {
namespace {

using sealbench::win32::SystemMessage;
using Clock = TcpStream::Clock;

// As on POSIX: enough for a fast relay, little enough that what waits on our side
// of a 115200 baud line stays a few seconds.
constexpr int kSendBuffer = 64 * 1024;

std::string SocketMessage(int code) { return SystemMessage(static_cast<DWORD>(code)); }

bool WinsockReady(Error* error, std::string* detail) {
    static const int started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) {
        *error = Error::Io;
        *detail = "Winsock cannot be started: " + SocketMessage(started);
        return false;
    }
    return true;
}

// select's time-out for the time left; false when the deadline has passed.
bool TimeLeft(Clock::time_point deadline, timeval* left) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (ms <= 0) {
        return false;
    }
    ms = std::min<long long>(ms, 60'000);
    left->tv_sec = static_cast<long>(ms / 1000);
    left->tv_usec = static_cast<long>(ms % 1000) * 1000;
    return true;
}

// Waits until the socket can be written (or read), its connect failed, or the
// deadline passed: 1, -1 with WSAGetLastError, or 0.
int WaitFor(SOCKET s, bool write, Clock::time_point deadline) {
    timeval left{};
    if (!TimeLeft(deadline, &left)) {
        return 0;
    }
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    int r = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &left);
    return r > 0 ? 1 : r;
}

bool IsGone(int code) {
    return code == WSAECONNRESET || code == WSAECONNABORTED || code == WSAESHUTDOWN || code == WSAENETRESET ||
           code == WSAENOTCONN;
}

Error ConnectError(int code) {
    switch (code) {
        case WSAECONNREFUSED:
        case WSAEHOSTUNREACH:
        case WSAENETUNREACH:
        case WSAEADDRNOTAVAIL:
            return Error::NotFound;
        case WSAETIMEDOUT:
            return Error::Timeout;
        case WSAEACCES:
            return Error::Permission;
        default:
            return Error::Io;
    }
}

class Socket {
public:
    explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
    Socket(Socket&& other) noexcept : s_(std::exchange(other.s_, INVALID_SOCKET)) {}
    Socket& operator=(Socket&& other) noexcept {
        std::swap(s_, other.s_);
        return *this;
    }
    ~Socket() {
        if (s_ != INVALID_SOCKET) {
            ::closesocket(s_);
        }
    }
    SOCKET Get() const { return s_; }
    bool Valid() const { return s_ != INVALID_SOCKET; }

private:
    SOCKET s_;
};

// One connect attempt; Error::Ok with the connected socket in *out.
Error ConnectOne(const addrinfo& address, Clock::time_point deadline, Socket* out, int* code) {
    Socket s(::socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    if (!s.Valid()) {
        *code = ::WSAGetLastError();
        return Error::Io;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s.Get()), HANDLE_FLAG_INHERIT, 0);
    u_long nonBlocking = 1;
    ::ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
    int size = kSendBuffer;
    ::setsockopt(s.Get(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
    if (::connect(s.Get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        *code = ::WSAGetLastError();
        if (*code != WSAEWOULDBLOCK) {
            return ConnectError(*code);
        }
        int r = WaitFor(s.Get(), true, deadline);
        if (r == 0) {
            *code = WSAETIMEDOUT;
            return Error::Timeout;
        }
        int soError = 0;
        int length = sizeof soError;
        if (::getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0) {
            soError = ::WSAGetLastError();
        }
        if (r < 0 || soError != 0) {
            *code = soError != 0 ? soError : ::WSAGetLastError();
            return ConnectError(*code);
        }
    }
    BOOL on = TRUE;
    ::setsockopt(s.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    *out = std::move(s);
    return Error::Ok;
}

class WinsockTcpStream final : public TcpStream {
public:
    explicit WinsockTcpStream(Socket s) : socket_(std::move(s)) {}

    Error Write(const uint8_t* data, size_t n, Clock::time_point deadline, std::chrono::milliseconds idle,
                const SendObserver* sent, std::string* detail) override {
        size_t done = 0;
        auto lastProgress = Clock::now();
        while (done < n) {
            int part = static_cast<int>(std::min<size_t>(n - done, INT_MAX));
            int r = ::send(socket_.Get(), reinterpret_cast<const char*>(data + done), part, 0);
            if (r > 0) {
                done += static_cast<size_t>(r);
                lastProgress = Clock::now();
                if (sent) {
                    (*sent)(static_cast<size_t>(r));
                }
                continue;
            }
            int code = ::WSAGetLastError();
            if (code != WSAEWOULDBLOCK) {
                if (IsGone(code)) {
                    *detail = "the server closed the connection (" + SocketMessage(code) + ")";
                    return Error::Gone;
                }
                *detail = "write failed: " + SocketMessage(code);
                return Error::Io;
            }
            int w = WaitFor(socket_.Get(), true, std::min(deadline, lastProgress + idle));
            if (w == 0) {
                *detail = "the target stopped taking data (" + std::to_string(done) + " of " + std::to_string(n) +
                          " bytes written)";
                return Error::Timeout;
            }
            if (w < 0) {
                code = ::WSAGetLastError();
                *detail = "select failed: " + SocketMessage(code);
                return Error::Io;
            }
        }
        return Error::Ok;
    }

    Error ReadAvailable(uint8_t* data, size_t max, Clock::time_point deadline, size_t* got,
                        std::string* detail) override {
        *got = 0;
        for (;;) {
            int part = static_cast<int>(std::min<size_t>(max, INT_MAX));
            int r = ::recv(socket_.Get(), reinterpret_cast<char*>(data), part, 0);
            if (r > 0) {
                *got = static_cast<size_t>(r);
                return Error::Ok;
            }
            if (r == 0) {
                *detail = "the server closed the connection";
                return Error::Gone;
            }
            int code = ::WSAGetLastError();
            if (code != WSAEWOULDBLOCK) {
                if (IsGone(code)) {
                    *detail = "the server closed the connection (" + SocketMessage(code) + ")";
                    return Error::Gone;
                }
                *detail = "the connection failed: " + SocketMessage(code);
                return Error::Io;
            }
            int w = WaitFor(socket_.Get(), false, deadline);
            if (w == 0) {
                return Error::Timeout;
            }
            if (w < 0) {
                code = ::WSAGetLastError();
                *detail = "select failed: " + SocketMessage(code);
                return Error::Io;
            }
        }
    }

private:
    Socket socket_;
};

}  // namespace

TcpStream::~TcpStream() = default;

std::unique_ptr<TcpStream> TcpStream::Connect(const std::string& host, const std::string& port,
                                              std::chrono::milliseconds limit, Error* error, std::string* detail) {
    if (!WinsockReady(error, detail)) {
        return nullptr;
    }
    return tcp::ConnectAny<Socket>(
        host, port, limit, error, detail, ConnectOne,
        [](Socket handle) -> std::unique_ptr<TcpStream> {
            return std::make_unique<WinsockTcpStream>(std::move(handle));
        },
        [](int code) { return SocketMessage(code); }, [](int code) { return SocketMessage(code); });
}

std::vector<std::string> TcpStream::Addresses(const std::string& host, std::chrono::milliseconds limit) {
    Error error = Error::Ok;
    std::string detail;
    if (!WinsockReady(&error, &detail)) {
        return {};
    }
    tcp::AddrInfoList list =
        tcp::Resolve(host, "1", Clock::now() + limit, &error, &detail, [](int code) { return SocketMessage(code); });
    return tcp::NumericAddresses(list.get());
}

}  // namespace bootwire
