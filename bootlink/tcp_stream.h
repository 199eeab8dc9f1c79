// A connected TCP stream with bounded waits: all that the network serial ports
// need from the operating system, so that each platform implements it once.
#pragma once

#include <bootwire/bootwire.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bootwire {

class TcpStream {
public:
    using Clock = std::chrono::steady_clock;

    // Resolves and connects to host:port within `limit`, with Nagle's delay off
    // (frames are small and every one waits for its answer). nullptr with the
    // error and its detail when no connection could be made.
    static std::unique_ptr<TcpStream> Connect(const std::string& host, const std::string& port,
                                              std::chrono::milliseconds limit, Error* error, std::string* detail);

    // The numeric addresses host resolves to within `limit` (a name server that
    // does not answer in time gives none), each as getnameinfo writes it.
    static std::vector<std::string> Addresses(const std::string& host, std::chrono::milliseconds limit);

    virtual ~TcpStream();

    // Writes all n bytes before the deadline, failing early when the peer took
    // nothing for `idle`; reports progress to `sent`. A closed or reset connection
    // is Error::Gone.
    virtual Error Write(const uint8_t* data, size_t n, Clock::time_point deadline, std::chrono::milliseconds idle,
                        const SendObserver* sent, std::string* detail) = 0;

    // Waits until bytes arrived or the deadline passed, then takes up to `max` of
    // what is there. Error::Timeout with *got 0 when nothing came; Error::Gone when
    // the peer closed the connection.
    virtual Error ReadAvailable(uint8_t* data, size_t max, Clock::time_point deadline, size_t* got,
                                std::string* detail) = 0;
};

}  // namespace bootwire
