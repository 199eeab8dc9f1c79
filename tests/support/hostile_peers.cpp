#include "hostile_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace sealtest {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often a peer looks at its stop flag while nothing happens.
constexpr int kTickMs = 20;
// The flash library's status query, as the host sends it.
constexpr std::string_view kStatusQuery{"\x94\x93\x00\x00\x78\x56\x34\x12\xEF\xCD\xAB\x90\x55\xAA\x55\xAA", 16};

void NoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// The next client, or -1 once `stop` is set.
int AcceptUnlessStopped(int listener, const std::atomic<bool>& stop) {
    while (!stop) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, kTickMs) > 0) {
            int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                NoDelay(client);
                return client;
            }
        }
    }
    return -1;
}

bool SendAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

int ConnectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    NoDelay(fd);
    return fd;
}

}  // namespace

int BindLoopback(int* port) {
    *port = 0;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        *port = ntohs(address.sin_port);
    }
    return fd;
}

Listener::Listener() {
    fd_ = BindLoopback(&port_);
    if (port_ != 0 && ::listen(fd_, 4) != 0) port_ = 0;
}

Listener::~Listener() {
    if (fd_ >= 0) ::close(fd_);
}

Proxy::Proxy(int upstreamPort, Behaviour behaviour)
    : upstream_(upstreamPort), behaviour_(behaviour), thread_([this] { Serve(); }) {}

Proxy::~Proxy() {
    stop_ = true;
    thread_.join();
}

void Proxy::Serve() {
    for (;;) {
        const int client = AcceptUnlessStopped(listener_.fd(), stop_);
        if (client < 0) return;
        const int board = ConnectLoopback(upstream_);
        if (board >= 0) {
            Relay(client, board);
            ::close(board);
        }
        ::close(client);
    }
}

void Proxy::Relay(int client, int board) {
    std::string seen;      // the client's latest bytes, for the query
    std::string toClient;  // the board's bytes not yet passed on
    int queries = 0;
    bool unanswered = false;  // the latest query has had no answer yet
    size_t fromClient = 0;
    size_t passLeft = 0;  // bytes still to pass before the stall
    Clock::time_point holdUntil{};
    Clock::time_point nextByte = Clock::now();
    const auto byteTime = behaviour_.boardBytesPerSecond > 0
                              ? std::chrono::duration_cast<Clock::duration>(1s) / behaviour_.boardBytesPerSecond
                              : Clock::duration::zero();
    char buffer[16384];
    while (!stop_) {
        const auto now = Clock::now();
        // What may go to the client now.
        const bool starving = byteTime > Clock::duration::zero() && fromClient >= behaviour_.starveAfterClientBytes;
        size_t release = toClient.size();
        if (passLeft > 0) {
            release = std::min(release, passLeft);
        } else if (now < holdUntil) {
            release = 0;
        } else if (starving) {
            release = now >= nextByte ? std::min<size_t>(release, 1) : 0;
        }
        if (release > 0) {
            if (!SendAll(client, toClient.data(), release)) return;
            toClient.erase(0, release);
            if (passLeft > 0 && (passLeft -= release) == 0) holdUntil = Clock::now() + behaviour_.hold;
            if (starving) nextByte = std::max(nextByte + byteTime, now);
        }
        pollfd fds[2] = {{client, POLLIN, 0},
                         {board, static_cast<short>(toClient.size() < (1u << 20) ? POLLIN : 0), 0}};
        const int wait = toClient.empty() ? kTickMs : 1;
        if (::poll(fds, 2, wait) < 0) return;
        if (fds[0].revents) {
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0 || !SendAll(board, buffer, static_cast<size_t>(n))) return;
            fromClient += static_cast<size_t>(n);
            if (unanswered) {
                // More of the client's bytes before any answer: those were inside a
                // download (the flash libraries hold the query to recognise it).
                unanswered = false;
                --queries;
                passLeft = 0;
                stalled_ = false;
            }
            if (behaviour_.stallAtQuery > 0 && queries < behaviour_.stallAtQuery) {
                // A query is what the client then waits on: it ends what the client sent.
                seen.append(buffer, static_cast<size_t>(n));
                if (seen.size() >= kStatusQuery.size() &&
                    seen.compare(seen.size() - kStatusQuery.size(), kStatusQuery.size(), kStatusQuery) == 0) {
                    unanswered = true;
                    seen.clear();
                    if (++queries == behaviour_.stallAtQuery) {
                        passLeft = behaviour_.pass;
                        stalled_ = true;
                    }
                }
                if (seen.size() > kStatusQuery.size()) seen.erase(0, seen.size() - kStatusQuery.size());
            }
        }
        if (fds[1].revents) {
            ssize_t n = ::recv(board, buffer, sizeof buffer, 0);
            if (n <= 0) {
                SendAll(client, toClient.data(), toClient.size());
                return;
            }
            toClient.append(buffer, static_cast<size_t>(n));
            unanswered = false;
        }
    }
}

ConsolePort::ConsolePort() : thread_([this] { Serve(); }) {}

ConsolePort::~ConsolePort() {
    stop_ = true;
    thread_.join();
}

void ConsolePort::Serve() {
    std::vector<int> clients;
    double uptime = 6.104;
    while (!stop_) {
        pollfd p{listener_.fd(), POLLIN, 0};
        if (::poll(&p, 1, 5) > 0) {
            int client = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) clients.push_back(client);
        }
        char line[96];
        const int n = std::snprintf(line, sizeof line, "[%9.3f] systemd[1]: Started Journal Service.\r\n", uptime);
        uptime += 0.013;
        std::erase_if(clients, [&](int fd) {
            if (::send(fd, line, static_cast<size_t>(n), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0 || errno == EAGAIN) {
                return false;
            }
            ::close(fd);
            return true;
        });
    }
    for (int fd : clients) ::close(fd);
}

FloodingServer::FloodingServer(uint64_t limit) : limit_(limit), thread_([this] { Serve(); }) {}

FloodingServer::~FloodingServer() {
    stop_ = true;
    thread_.join();
}

void FloodingServer::Serve() {
    const int client = AcceptUnlessStopped(listener_.fd(), stop_);
    if (client < 0) return;
    // Bytes that are neither IAC nor a line end: data, all of it.
    std::vector<char> data(65536, 'U');
    while (!stop_ && sent_ < limit_) {
        pollfd p{client, POLLOUT, 0};
        if (::poll(&p, 1, kTickMs) <= 0) continue;
        if (p.revents & (POLLERR | POLLHUP)) break;
        ssize_t n = ::send(client, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN) break;
        if (n > 0) sent_ += static_cast<uint64_t>(n);
        // What the client says (its options) is read and dropped.
        char scrap[4096];
        while (::recv(client, scrap, sizeof scrap, MSG_DONTWAIT) > 0) {
        }
    }
    ::close(client);
}

}  // namespace sealtest
