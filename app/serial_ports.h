// The serial ports of this machine as the "Serial Port:" list offers them.
#pragma once

#include <string>
#include <vector>

struct SerialPortEntry {
    std::string path;   // what the library opens, e.g. /dev/ttyUSB0
    std::string label;  // what the list shows, with the stable by-id name beside the path
};

// USB serial adapters (/dev/ttyUSB*, /dev/ttyACM*) and the on-board UARTs (/dev/ttyS*)
// that have hardware behind them, sorted by path. `devRoot` is "/dev" except in tests.
std::vector<SerialPortEntry> ListSerialPorts(const std::string& devRoot = "/dev");
