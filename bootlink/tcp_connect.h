// Reaching host:port within a deadline, for both platforms' TCP streams: the name
// lookup (getaddrinfo may wait on a name server for as long as it likes, so it runs
// on a thread of its own that the caller stops waiting for at the deadline), then
// every address in the resolver's order until one answers. Included by
// tcp_posix.cpp and tcp_win32.cpp after their own socket headers.
#pragma once

#include <bootwire/bootwire.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tcp_stream.h"

namespace bootwire::tcp {

struct AddrInfoDeleter {
    void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int result = 0;
    AddrInfoList list;
};

// The addresses of host:port for a TCP connection; nullptr with the error and its
// detail. `describe` turns a getaddrinfo result into words (the platforms differ).
template <typename Describe>
AddrInfoList Resolve(const std::string& host, const std::string& port, std::chrono::steady_clock::time_point deadline,
                     Error* error, std::string* detail, Describe describe) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* numeric = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &numeric) == 0) {
        return AddrInfoList(numeric);
    }
    auto lookup = std::make_shared<Lookup>();
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    std::thread([lookup, host, port, hints] {
        addrinfo* list = nullptr;
        int result = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
        std::lock_guard lock(lookup->mutex);
        lookup->result = result;
        lookup->list.reset(list);
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        *error = Error::Timeout;
        *detail = "cannot find the host " + host + ": the name lookup took too long";
        return nullptr;
    }
    if (lookup->result != 0) {
        *error = Error::NotFound;
        *detail = "cannot find the host " + host + ": " + describe(lookup->result);
        return nullptr;
    }
    return std::move(lookup->list);
}

// Connects to the first address of host:port that answers. `connectOne(address,
// deadline, &handle, &code)` tries one address; `wrap(handle)` makes the stream;
// `lookupWords` and `connectWords` put the lookup's and the connection's error
// codes into words.
template <typename Handle, typename ConnectOne, typename Wrap, typename LookupWords, typename ConnectWords>
std::unique_ptr<TcpStream> ConnectAny(const std::string& host, const std::string& port, std::chrono::milliseconds limit,
                                      Error* error, std::string* detail, ConnectOne connectOne, Wrap wrap,
                                      LookupWords lookupWords, ConnectWords connectWords) {
    const auto deadline = TcpStream::Clock::now() + limit;
    const std::string where = host.find(':') != std::string::npos ? "[" + host + "]:" + port : host + ":" + port;
    AddrInfoList list = Resolve(host, port, deadline, error, detail, lookupWords);
    if (!list) {
        return nullptr;
    }
    int lastCode = 0;
    Error lastError = Error::NotFound;
    for (const addrinfo* a = list.get(); a; a = a->ai_next) {
        Handle handle;
        lastError = connectOne(*a, deadline, &handle, &lastCode);
        if (lastError == Error::Ok) {
            *error = Error::Ok;
            return wrap(std::move(handle));
        }
        if (lastError == Error::Timeout) {
            break;
        }
    }
    *error = lastError;
    if (lastError == Error::Timeout) {
        *detail = "cannot connect to " + where + ": no answer within " +
                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) + " s";
    } else {
        *detail = "cannot connect to " + where + ": " + connectWords(lastCode);
    }
    return nullptr;
}

// Every address of `list` in numeric form, once each, in the resolver's order.
inline std::vector<std::string> NumericAddresses(const addrinfo* list) {
    std::vector<std::string> out;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        char text[NI_MAXHOST];
        if (::getnameinfo(a->ai_addr, static_cast<socklen_t>(a->ai_addrlen), text, sizeof text, nullptr, 0,
                          NI_NUMERICHOST) == 0 &&
            std::find(out.begin(), out.end(), text) == out.end()) {
            out.emplace_back(text);
        }
    }
    return out;
}

}  // namespace bootwire::tcp
