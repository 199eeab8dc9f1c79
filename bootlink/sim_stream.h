// The connection to the virtual board's USB boot device: a byte stream carrying
// the bulk OUT bytes to the board and the bulk IN bytes back. The board serves it
// on TCP ("tcp:HOST:PORT", reached through TcpStream on every platform) or on a
// Unix socket (a path; sim_stream_posix.cpp, and sim_stream_win32.cpp says no).
#pragma once

#include <bootwire/bootwire.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace bootwire::usb {

using SimClock = std::chrono::steady_clock;

class SimStream {
public:
    virtual ~SimStream() = default;
    // Writes all n bytes before the deadline, or fails (detail in *detail).
    virtual Error Write(const uint8_t* data, size_t n, SimClock::time_point deadline, std::string* detail) = 0;
    // Reads until n bytes arrived or the deadline passed; *received says how many came.
    virtual Error Read(uint8_t* data, size_t n, SimClock::time_point deadline, size_t* received,
                       std::string* detail) = 0;
};

// Where the board listens, as BOOTWIRE_USB_SIM gives it.
struct SimAddress {
    bool tcp = false;
    std::string path;  // Unix socket
    std::string host;  // TCP
    std::string port;
};

// Reads "tcp:HOST:PORT" (HOST may be [v6]) or takes the text as a socket path.
// False with a reason when a tcp: address is malformed.
bool ParseSimAddress(const std::string& text, SimAddress* address, std::string* why);

// Whether a socket file is at a Unix socket address (TCP cannot be looked at
// without connecting; callers connect instead).
bool SimSocketPresent(const SimAddress& address);

// Connects; nullptr with the error and its detail when the board cannot be reached.
std::unique_ptr<SimStream> SimConnect(const SimAddress& address, Error* error, std::string* detail);

// The Unix socket part of SimConnect, one per platform.
std::unique_ptr<SimStream> SimConnectSocket(const std::string& path, Error* error, std::string* detail);

}  // namespace bootwire::usb
