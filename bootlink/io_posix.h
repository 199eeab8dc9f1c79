// Bounded reads and writes on a non-blocking descriptor, shared by the serial
// port and the virtual board's USB socket.
#pragma once

#include <bootwire/bootwire.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace bootwire::posix {

using Clock = std::chrono::steady_clock;

// Writes all n bytes before the deadline, failing early when nothing was taken for
// `idle`; reports progress to `sent`. On a socket the write never raises SIGPIPE.
Error WriteAll(int fd, const uint8_t* data, size_t n, Clock::time_point deadline, std::chrono::milliseconds idle,
               const SendObserver* sent, std::string* detail, bool isSocket = false);

// Reads until n bytes arrived, the deadline passed, or no byte came for `idle`.
Error ReadSome(int fd, uint8_t* data, size_t n, Clock::time_point deadline, std::chrono::milliseconds idle,
               size_t* received, std::string* detail);

// Maps an errno value to the library's error kinds.
Error ErrorFromErrno(int err);

}  // namespace bootwire::posix
