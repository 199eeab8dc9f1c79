#include "app/serial_ports.h"

// Windows names its ports by number; the library opens them by that number.
std::vector<SerialPortEntry> ListSerialPorts(const std::string&) {
    std::vector<SerialPortEntry> ports;
    for (int number = 1; number <= 6; ++number)
        ports.push_back({std::to_string(number), "COM" + std::to_string(number)});
    return ports;
}
