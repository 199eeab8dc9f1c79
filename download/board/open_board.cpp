#include "download/board/open_board.h"

#include <vector>

namespace sealbench {
namespace {

// The one text for a port or device this user may not open.
constexpr std::string_view kPermissionHint =
    "Access was refused. For a serial port, add yourself to the 'dialout' group (sudo usermod -aG dialout $USER, "
    "then log in again); for the USB boot device, install the udev rule packaging/60-sealbench.rules as the README "
    "explains, then plug the board in again.";

// The reason for the user: what the system said, then what to do about it.
std::string Reason(bootwire::Error error, const std::string& detail) {
    std::string reason = detail;
    if (error == bootwire::Error::Permission) {
        reason += (reason.empty() ? "" : "\n") + std::string(kPermissionHint);
    }
    return reason;
}

Result<OpenedBoard> Failed(std::string message, std::string reason) {
    return {Outcome::Failure(FailureKind::Target, std::move(message), std::move(reason)), {}};
}

Result<OpenedBoard> Opened(std::unique_ptr<bootwire::Transport> transport, const BoardAddress& address,
                           std::string notice) {
    Result<OpenedBoard> result;
    result.value.link = std::make_unique<bootwire::Link>(std::move(transport));
    result.value.usb = address.usb;
    result.value.name = address.name;
    result.value.notice = std::move(notice);
    return result;
}

std::vector<std::string> UsbBootDevices() {
    std::vector<std::string> locations;
    for (const bootwire::PortInfo& port : bootwire::ListPorts()) {
        if (port.kind == bootwire::PortInfo::Kind::UsbBoot) locations.push_back(port.name);
    }
    return locations;
}

Result<OpenedBoard> OpenUsbBoard(const BoardAddress& address) {
    bootwire::Error error = bootwire::Error::Ok;
    std::string detail;
    std::string notice;
    std::unique_ptr<bootwire::Transport> transport;
    if (address.port.empty()) {
        // Guessing among several boards would flash one nobody chose.
        const std::vector<std::string> found = UsbBootDevices();
        if (found.size() > 1) {
            std::string names;
            for (const std::string& location : found) names += (names.empty() ? "" : ", ") + UsbBoardName(location);
            if (!address.firstOfSeveral) {
                return Failed(std::to_string(found.size()) + " USB boot devices are connected: " + names,
                              "Name the board with --usb-device LOCATION, or run every one with --usb all.");
            }
            notice = "Took " + UsbBoardName(found.front()) + ", the first of " + std::to_string(found.size()) +
                     " USB boot devices (" + names + ")";
        }
        transport = bootwire::OpenUsb(&error, &detail);
    } else {
        transport = bootwire::OpenUsbAt(address.port, &error, &detail);
    }
    if (transport) {
        return Opened(std::move(transport), address, std::move(notice));
    }
    if (error == bootwire::Error::Permission || error == bootwire::Error::Busy) {
        // It is there: "No USB detected!" would send the user looking for a cable.
        return Failed(std::string("The USB boot device (2b4e:7a31) was found but cannot be opened") +
                          (error == bootwire::Error::Busy ? ": another program holds it" : ""),
                      Reason(error, detail));
    }
    return Failed(std::string(kNoUsbMessage), Reason(error, detail));
}

}  // namespace

std::string UsbBoardName(const std::string& location) { return "usb:" + location; }

BoardAddress SerialBoard(const std::string& port) { return {port, false, port, false}; }

BoardAddress UsbBoard(const std::string& location) {
    return {location.empty() ? std::string("usb") : UsbBoardName(location), true, location, false};
}

Result<OpenedBoard> OpenBoard(const BoardAddress& address, ProcessorType processor) {
    if (address.usb) {
        return OpenUsbBoard(address);
    }
    if (address.port.empty()) {
        return Failed("Please select the Com port", {});
    }
    bootwire::Error error = bootwire::Error::Ok;
    std::string detail;
    auto transport = bootwire::OpenSerial(address.port, PresetOf(processor).lineMode, &error, &detail);
    if (!transport || error != bootwire::Error::Ok) {
        return Failed("Cannot Open " + address.name, Reason(error, detail));
    }
    return Opened(std::move(transport), address, detail);
}

Result<OpenedBoard> OpenBoardForWindow(const BoardAddress& address, ProcessorType processor, std::string* reason) {
    std::vector<std::string> said;
    Result<OpenedBoard> opened;
    {
        bootwire::DiagnosticScope scope([&said](std::string_view line) {
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
            if (!line.empty()) said.emplace_back(line);
        });
        opened = OpenBoard(address, processor);
    }
    reason->clear();
    if (opened.Ok()) return opened;
    const std::string windowText = address.usb ? std::string(kNoUsbMessage) : "Cannot Open " + address.name;
    std::vector<std::string> lines;
    if (opened.outcome.message != windowText) lines.push_back(opened.outcome.message);
    if (!opened.outcome.detail.empty()) lines.push_back(opened.outcome.detail);
    lines.insert(lines.end(), said.begin(), said.end());
    for (const std::string& line : lines) *reason += (reason->empty() ? "" : "\n") + line;
    return opened;
}

}  // namespace sealbench
