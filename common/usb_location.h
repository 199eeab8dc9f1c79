// Where a USB device is plugged in on Windows, as a short text that stays the same
// across restarts and whatever order the hubs came in. Windows names the place by a
// location path, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)": the host
// controller's place on the PCI buses, its root hub, then the port of each hub on the
// way. The text keeps all of it in the shape a Linux location has (bus, then ports):
// "pci0.1400-3.2" (a root hub other than 0 adds ":N" to the controller). Header-only:
// the library and the station's slot places share it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sealbench {
namespace usb_location_detail {

inline bool HexDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// "NAME(ARG)" -> ARG when NAME matches and ARG is hexadecimal digits.
inline std::optional<std::string_view> Argument(std::string_view element, std::string_view name) {
    if (element.size() < name.size() + 2 || element.substr(0, name.size()) != name || element[name.size()] != '(' ||
        element.back() != ')')
        return std::nullopt;
    std::string_view argument = element.substr(name.size() + 1, element.size() - name.size() - 2);
    if (!HexDigits(argument)) return std::nullopt;
    return argument;
}

inline std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

}  // namespace usb_location_detail

// The text of a location path whose device sits behind a PCI host controller's root
// hub; nullopt for any other path (an ACPI path, an interface of a composite device).
inline std::optional<std::string> UsbLocationOfPath(std::string_view path) {
    using namespace usb_location_detail;
    const std::vector<std::string_view> elements = Split(path, '#');
    size_t at = 0;
    std::optional<std::string_view> root = Argument(elements[at], "PCIROOT");
    if (!root) return std::nullopt;
    std::string text = "pci" + std::string(*root);
    for (++at; at < elements.size(); ++at) {
        const std::optional<std::string_view> device = Argument(elements[at], "PCI");
        if (!device) break;
        text += "." + std::string(*device);
    }
    if (at == elements.size()) return std::nullopt;
    const std::optional<std::string_view> hub = Argument(elements[at], "USBROOT");
    if (!hub) return std::nullopt;
    if (*hub != "0") text += ":" + std::string(*hub);
    if (++at == elements.size()) return std::nullopt;
    for (char separator = '-'; at < elements.size(); ++at, separator = '.') {
        const std::optional<std::string_view> port = Argument(elements[at], "USB");
        if (!port) return std::nullopt;
        text += separator + std::string(*port);
    }
    return text;
}

// Whether `text` is such a text ("pci0.1400-3.2").
inline bool IsUsbLocationText(std::string_view text) {
    using namespace usb_location_detail;
    if (text.substr(0, 3) != "pci") return false;
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos) return false;
    std::string_view controller = text.substr(3, dash - 3);
    if (const size_t colon = controller.find(':'); colon != std::string_view::npos) {
        if (!HexDigits(controller.substr(colon + 1))) return false;
        controller = controller.substr(0, colon);
    }
    for (std::string_view part : Split(controller, '.'))
        if (!HexDigits(part)) return false;
    for (std::string_view port : Split(text.substr(dash + 1), '.'))
        if (!HexDigits(port)) return false;
    return true;
}

// Whether `text` is a location path as Windows writes it (Device Manager shows it as
// "Location paths"), of any form that reaches a USB device.
inline bool IsUsbLocationPath(std::string_view text) {
    return text.find('#') != std::string_view::npos && text.find("#USB(") != std::string_view::npos;
}

}  // namespace sealbench
