// The kinds of serial port that OpenSerial tells apart by the port's text: a
// device of this machine, or a port exported over the network.
#pragma once

#include <bootwire/bootwire.h>

#include <memory>
#include <string>

#include "net_address.h"

namespace bootwire {

// What a serial line of any kind sends in one piece when a stop must end it soon:
// 4 KiB take about 0.36 s at 115200 baud.
inline constexpr size_t kSerialStopSlice = 4096;

// A device path or COM number of this machine (serial_posix.cpp, one file per platform).
std::unique_ptr<Transport> OpenLocalSerial(const std::string& port, int lineMode, Error* error, std::string* detail);

// A Telnet server with COM-port control (RFC 2217), such as ser2net.
std::unique_ptr<Transport> OpenRfc2217(const NetworkAddress& address, int lineMode, Error* error, std::string* detail);

// Raw TCP: bytes as they are. Succeeds with a note in *detail that the line
// settings are the server's.
std::unique_ptr<Transport> OpenRawSocket(const NetworkAddress& address, int lineMode, Error* error,
                                         std::string* detail);

}  // namespace bootwire
