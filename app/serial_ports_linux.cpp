#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "app/serial_ports.h"

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Most machines list 4 to 32 ttyS nodes of which few have a UART behind them. The
// kernel tells which in sysfs (readable without the dialout group); failing that,
// ask the port itself.
bool UartAnswers(const fs::path& device) {
    std::ifstream type("/sys/class/tty/" + device.filename().string() + "/type");
    int uartType = -1;
    if (type >> uartType) return uartType != PORT_UNKNOWN;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool answers = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return answers;
}

// /dev/serial/by-id names by the device they point at.
std::map<std::string, std::string> ByIdNames(const fs::path& devRoot) {
    std::map<std::string, std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(devRoot / "serial" / "by-id", error)) {
        const fs::path target = fs::weakly_canonical(entry.path(), error);
        if (!error) names[target.string()] = entry.path().filename().string();
    }
    return names;
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPorts(const std::string& devRoot) {
    const fs::path root(devRoot);
    const std::map<std::string, std::string> byId = ByIdNames(root);
    std::vector<SerialPortEntry> ports;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(root, error)) {
        const std::string name = entry.path().filename().string();
        const bool adapter = StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM");
        const bool uart = StartsWith(name, "ttyS");
        if (!adapter && !uart) continue;
        if (uart && !UartAnswers(entry.path())) continue;
        SerialPortEntry port;
        port.path = entry.path().string();
        port.label = port.path;
        if (auto found = byId.find(port.path); found != byId.end()) port.label += " (" + found->second + ")";
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.path < b.path; });
    return ports;
}
