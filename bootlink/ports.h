// Listing what boards may be reached on: the serial ports come from one file per
// operating system (ports_linux.cpp), the USB boot devices from the driver layer
// (usb_transport.cpp), and ports.cpp puts the two together for ListPorts().
#pragma once

#include <bootwire/bootwire.h>

#include <string>
#include <vector>

namespace bootwire {

// The serial ports of this system that have hardware behind them, sorted by name.
std::vector<PortInfo> ListSystemSerialPorts();

// ports_linux.cpp's listing over other roots than /dev and /sys, for tests.
std::vector<PortInfo> ListSerialPortsUnder(const std::string& devRoot, const std::string& sysRoot);

}  // namespace bootwire
