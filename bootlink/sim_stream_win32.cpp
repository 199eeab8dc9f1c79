// The virtual board's USB stream on Windows: TCP through Winsock, non-blocking,
// every wait bounded by select. The board's Unix socket form is for POSIX hosts.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>

#include "common/win32_support.h"
#include "sim_stream.h"

namespace bootwire::usb {
namespace {

using sealbench::win32::SystemMessage;

bool WinsockReady(std::string* why) {
    static const int started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) {
        *why = "Winsock cannot be started: " + SystemMessage(static_cast<DWORD>(started));
        return false;
    }
    return true;
}

Error ErrorOfTransfer(int code) {
    switch (code) {
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAESHUTDOWN:
        case WSAENETRESET:
        case WSAENOTCONN:
            return Error::Gone;
        case WSAETIMEDOUT:
            return Error::Timeout;
        default:
            return Error::Io;
    }
}

// Milliseconds until the deadline as select wants them; false when it has passed.
bool TimeLeft(SimClock::time_point deadline, timeval* left) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SimClock::now()).count();
    if (ms <= 0) {
        return false;
    }
    ms = std::min<long long>(ms, 60'000);
    left->tv_sec = static_cast<long>(ms / 1000);
    left->tv_usec = static_cast<long>(ms % 1000) * 1000;
    return true;
}

// Waits until the socket can be read (or written); false on time-out or failure.
Error WaitFor(SOCKET s, bool write, SimClock::time_point deadline, std::string* detail) {
    for (;;) {
        timeval left{};
        if (!TimeLeft(deadline, &left)) {
            return Error::Timeout;
        }
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        fd_set errors;
        FD_ZERO(&errors);
        FD_SET(s, &errors);
        int r = ::select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &left);
        if (r == SOCKET_ERROR) {
            int code = ::WSAGetLastError();
            *detail = "select failed: " + SystemMessage(static_cast<DWORD>(code));
            return ErrorOfTransfer(code);
        }
        if (r > 0) {
            return Error::Ok;
        }
    }
}

class WinsockSimStream final : public SimStream {
public:
    explicit WinsockSimStream(SOCKET s) : socket_(s) {}
    ~WinsockSimStream() override { ::closesocket(socket_); }

    Error Write(const uint8_t* data, size_t n, SimClock::time_point deadline, std::string* detail) override {
        size_t done = 0;
        while (done < n) {
            int part = static_cast<int>(std::min<size_t>(n - done, INT_MAX));
            int r = ::send(socket_, reinterpret_cast<const char*>(data + done), part, 0);
            if (r > 0) {
                done += static_cast<size_t>(r);
                continue;
            }
            int code = ::WSAGetLastError();
            if (code != WSAEWOULDBLOCK) {
                *detail = "sending to the virtual board failed: " + SystemMessage(static_cast<DWORD>(code));
                return ErrorOfTransfer(code);
            }
            if (Error e = WaitFor(socket_, true, deadline, detail); e != Error::Ok) {
                if (e == Error::Timeout) {
                    *detail = "the virtual board stopped taking data (" + std::to_string(done) + " of " +
                              std::to_string(n) + " bytes sent)";
                }
                return e;
            }
        }
        return Error::Ok;
    }

    Error Read(uint8_t* data, size_t n, SimClock::time_point deadline, size_t* received, std::string* detail) override {
        size_t done = 0;
        Error result = Error::Ok;
        while (done < n) {
            int part = static_cast<int>(std::min<size_t>(n - done, INT_MAX));
            int r = ::recv(socket_, reinterpret_cast<char*>(data + done), part, 0);
            if (r > 0) {
                done += static_cast<size_t>(r);
                continue;
            }
            if (r == 0) {
                *detail = "the connection to the virtual board was closed";
                result = Error::Gone;
                break;
            }
            int code = ::WSAGetLastError();
            if (code != WSAEWOULDBLOCK) {
                *detail = "receiving from the virtual board failed: " + SystemMessage(static_cast<DWORD>(code));
                result = ErrorOfTransfer(code);
                break;
            }
            if (Error e = WaitFor(socket_, false, deadline, detail); e != Error::Ok) {
                if (e == Error::Timeout) {
                    *detail = "the virtual board did not answer in time (" + std::to_string(done) + " of " +
                              std::to_string(n) + " bytes)";
                }
                result = e;
                break;
            }
        }
        *received = done;
        return result;
    }

private:
    SOCKET socket_;
};

}  // namespace

bool SimSocketPresent(const SimAddress&) { return false; }

std::unique_ptr<SimStream> SimConnect(const SimAddress& address, Error* error, std::string* detail) {
    if (!address.tcp) {
        *error = Error::Unsupported;
        *detail =
            "a Unix socket cannot be reached from Windows; start vireo-sim with --usb-tcp PORT and set "
            "BOOTWIRE_USB_SIM=tcp:127.0.0.1:PORT";
        return nullptr;
    }
    if (!WinsockReady(detail)) {
        *error = Error::Io;
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (int r = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found); r != 0) {
        *error = Error::NotFound;
        *detail = "cannot resolve " + address.host + ": " + SystemMessage(static_cast<DWORD>(r));
        return nullptr;
    }
    SOCKET s = INVALID_SOCKET;
    int code = WSAECONNREFUSED;
    for (addrinfo* a = found; a && s == INVALID_SOCKET; a = a->ai_next) {
        SOCKET candidate = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (candidate != INVALID_SOCKET && ::connect(candidate, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
            s = candidate;
        } else {
            code = ::WSAGetLastError();
            if (candidate != INVALID_SOCKET) {
                ::closesocket(candidate);
            }
        }
    }
    ::freeaddrinfo(found);
    if (s == INVALID_SOCKET) {
        *error = code == WSAECONNREFUSED ? Error::NotFound : code == WSAETIMEDOUT ? Error::Timeout : Error::Io;
        *detail = SystemMessage(static_cast<DWORD>(code));
        return nullptr;
    }
    // Frames are 16 bytes and every one waits for its answer: no coalescing delay.
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    return std::make_unique<WinsockSimStream>(s);
}

}  // namespace bootwire::usb
