// ports: what --port and --usb-device can be given, as the window lists them.
#include <bootwire/bootwire.h>

#include <algorithm>
#include <cstdio>

#include "commands.h"

namespace sealbench::cli {
namespace {

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// "FT232R USB UART, USB 0403:6001, serial A10KZ3, by-id usb-FTDI_...": what is known.
std::string Details(const bootwire::PortInfo& port) {
    std::string text = port.description;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (port.usbVendor != 0 || port.usbProduct != 0) add("USB " + Hex4(port.usbVendor) + ":" + Hex4(port.usbProduct));
    if (!port.usbSerial.empty()) add("serial " + port.usbSerial);
    if (!port.stableName.empty()) add("by-id " + port.stableName);
    return text;
}

int RunPorts() {
    std::vector<bootwire::PortInfo> ports = bootwire::ListPorts();
    if (ports.empty()) {
        std::fputs("No serial ports or USB boot devices found\n", stderr);
        return kExitOk;
    }
    size_t width = 0;
    for (const auto& port : ports) width = std::max(width, port.name.size());
    for (const auto& port : ports) {
        const char* option = port.kind == bootwire::PortInfo::Kind::Serial ? "--port" : "--usb-device";
        std::printf("%-*s  %-12s  %s\n", static_cast<int>(width), port.name.c_str(), option, Details(port).c_str());
    }
    std::fflush(stdout);
    return kExitOk;
}

}  // namespace

void AddPortsCommand(CLI::App& app, int& status) {
    CLI::App* ports = app.add_subcommand(
        "ports", "List the serial ports (--port) and USB boot devices (--usb-device) boards can be reached on");
    ports->callback([&status] { status = RunPorts(); });
}

}  // namespace sealbench::cli
