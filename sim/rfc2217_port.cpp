#include "rfc2217_port.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "links.h"
#include "log.h"

namespace vsim {

Rfc2217Port::Rfc2217Port(int port) {
    if (port < 0 || port > 65535)
        throw std::runtime_error("RFC 2217 port " + std::to_string(port) + " is not 0 to 65535");
    int chosen = 0;
    listen_ = ListenOnLoopback(port, &chosen);
    address_ = "rfc2217://127.0.0.1:" + std::to_string(chosen);
}

bool Rfc2217Port::Accept() {
    UniqueFd conn(::accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!conn.Valid()) return false;
    if (conn_.Valid()) {
        LogLine("RFC 2217: a second host was turned away; the port is in use");
        return false;
    }
    // Answers are small and awaited: no coalescing delay.
    int one = 1;
    ::setsockopt(conn.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    conn_ = std::move(conn);
    server_ = ComPortServer{};
    out_.clear();
    sent_ = 0;
    return true;
}

void Rfc2217Port::Close() {
    conn_.Reset();
    out_.clear();
    sent_ = 0;
}

bool Rfc2217Port::Flush() {
    while (conn_.Valid() && sent_ < out_.size()) {
        ssize_t n = ::send(conn_.Get(), out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
            return false;
        }
        sent_ += static_cast<size_t>(n);
    }
    if (sent_ == out_.size()) {
        out_.clear();
        sent_ = 0;
    }
    return true;
}

}  // namespace vsim
