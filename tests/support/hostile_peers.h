// Peers on loopback TCP that misbehave the way real networks and boards do, for
// tests and the soak: a proxy in front of a board that holds part of one answer
// back (a TCP retransmission, a slow erase) or passes the board's answers on a byte
// a second (a starved link), a port that only prints a Linux console (a board not
// in its boot ROM), and an RFC 2217 server that floods data instead of agreeing on
// its options. Each serves on its own thread until it is destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace sealtest {

// A TCP socket bound to 127.0.0.1 on a port the kernel picked (*port; 0 and the
// socket, when binding failed).
int BindLoopback(int* port);

// A listening loopback socket on a port the kernel picked.
class Listener {
public:
    Listener();
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    int fd() const { return fd_; }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Relays one client at a time to 127.0.0.1:upstream.
class Proxy {
public:
    struct Behaviour {
        // After the client's Nth flashing-status query (0: never), `pass` bytes of
        // what the board sends next go on at once and the rest waits for `hold`.
        int stallAtQuery = 0;
        size_t pass = 2;
        std::chrono::milliseconds hold{3300};
        // The board's bytes reach the client no faster than this many a second (0: as
        // fast as they come), once the client has sent this many bytes.
        int boardBytesPerSecond = 0;
        size_t starveAfterClientBytes = 0;
    };

    Proxy(int upstreamPort, Behaviour behaviour);
    ~Proxy();
    Proxy(const Proxy&) = delete;
    Proxy& operator=(const Proxy&) = delete;

    int port() const { return listener_.port(); }
    // Whether the stall happened (the Nth query went through).
    bool Stalled() const { return stalled_; }

private:
    void Serve();
    void Relay(int client, int board);

    Listener listener_;
    int upstream_;
    Behaviour behaviour_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> stalled_{false};
    std::thread thread_;
};

// Prints console lines to each client, a line every few milliseconds, and never
// reads what it is sent.
class ConsolePort {
public:
    ConsolePort();
    ~ConsolePort();
    ConsolePort(const ConsolePort&) = delete;
    ConsolePort& operator=(const ConsolePort&) = delete;
    int port() const { return listener_.port(); }

private:
    void Serve();

    Listener listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Answers an RFC 2217 client with nothing but data, as fast as the client takes
// it, up to `limit` bytes.
class FloodingServer {
public:
    explicit FloodingServer(uint64_t limit = uint64_t{4} << 30);
    ~FloodingServer();
    FloodingServer(const FloodingServer&) = delete;
    FloodingServer& operator=(const FloodingServer&) = delete;
    int port() const { return listener_.port(); }
    uint64_t sent() const { return sent_; }

private:
    void Serve();

    Listener listener_;
    uint64_t limit_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> sent_{0};
    std::thread thread_;
};

}  // namespace sealtest
