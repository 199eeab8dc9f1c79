// Serial ports on Linux: USB serial adapters (ttyUSB, ttyACM) and the on-board UARTs
// (ttyS) that have a UART behind them, with the stable /dev/serial/by-id name and,
// for adapters, the USB device's ids and strings as sysfs tells them (readable
// without opening the port or being in the dialout group).
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "ports.h"

namespace bootwire {
namespace {

namespace fs = std::filesystem;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The first line of a sysfs attribute; empty when there is none.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

uint16_t HexAttribute(const fs::path& file) {
    std::string text = ReadAttribute(file);
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return 0;
    }
    return static_cast<uint16_t>(std::stoul(text, nullptr, 16));
}

// Most machines list 4 to 32 ttyS nodes of which few have a UART behind them. The
// kernel tells which in sysfs; failing that, ask the port itself.
bool UartAnswers(const fs::path& device, const fs::path& sysRoot) {
    std::ifstream type(sysRoot / "class" / "tty" / device.filename() / "type");
    int uartType = -1;
    if (type >> uartType) return uartType != PORT_UNKNOWN;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool answers = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return answers;
}

// /dev/serial/by-id names by the device node they point at.
std::map<std::string, std::string> ByIdNames(const fs::path& devRoot) {
    std::map<std::string, std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(devRoot / "serial" / "by-id", error)) {
        std::error_code linkError;
        const fs::path target = fs::weakly_canonical(entry.path(), linkError);
        if (!linkError) names[target.string()] = entry.path().filename().string();
    }
    return names;
}

// The USB device a tty hangs off: up from the tty's device folder to the first that
// carries idVendor, staying inside the sysfs root.
void AddUsbDetails(const fs::path& sysRoot, const std::string& tty, PortInfo* port) {
    std::error_code error;
    const fs::path root = fs::weakly_canonical(sysRoot, error);
    fs::path at = fs::canonical(sysRoot / "class" / "tty" / tty / "device", error);
    if (error) return;
    for (int depth = 0; depth < 8 && at != root && at.has_parent_path(); ++depth, at = at.parent_path()) {
        if (!fs::exists(at / "idVendor", error)) continue;
        port->usbVendor = HexAttribute(at / "idVendor");
        port->usbProduct = HexAttribute(at / "idProduct");
        port->usbSerial = ReadAttribute(at / "serial");
        port->description = ReadAttribute(at / "product");
        return;
    }
}

}  // namespace

std::vector<PortInfo> ListSerialPortsUnder(const std::string& devRoot, const std::string& sysRoot) {
    const fs::path root(devRoot);
    const std::map<std::string, std::string> byId = ByIdNames(root);
    std::vector<PortInfo> ports;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(root, error)) {
        const std::string name = entry.path().filename().string();
        const bool adapter = StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM");
        const bool uart = StartsWith(name, "ttyS");
        if (!adapter && !uart) continue;
        if (uart && !UartAnswers(entry.path(), sysRoot)) continue;
        PortInfo port;
        port.kind = PortInfo::Kind::Serial;
        port.name = entry.path().string();
        std::error_code linkError;
        const std::string canonical = fs::weakly_canonical(entry.path(), linkError).string();
        if (auto found = byId.find(canonical); found != byId.end()) port.stableName = found->second;
        if (adapter) {
            AddUsbDetails(sysRoot, name, &port);
        } else {
            port.description = "on-board UART";
        }
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) { return a.name < b.name; });
    return ports;
}

std::vector<PortInfo> ListSystemSerialPorts() { return ListSerialPortsUnder("/dev", "/sys"); }

}  // namespace bootwire
