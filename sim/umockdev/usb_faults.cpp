#include "usb_faults.h"

#include <cctype>
#include <charconv>

namespace vsim {

FaultParse ParseUsbDeviceFault(std::string_view spec, UsbDeviceFaults* faults, std::string* error) {
    size_t colon = spec.find(':');
    std::string_view name = spec.substr(0, colon);
    std::string_view value = colon == std::string_view::npos ? std::string_view() : spec.substr(colon + 1);
    if (name == "usb-unplug") {
        uint64_t n = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (value.empty() || ec != std::errc() || end != value.data() + value.size()) {
            *error = "bad fault \"" + std::string(spec) + "\": expected usb-unplug:N with N >= 0";
            return FaultParse::Malformed;
        }
        faults->unplugAfter = n;
        return FaultParse::Applied;
    }
    if (name == "usb-driver") {
        bool ok = !value.empty() && value != "usbfs";
        for (char c : value) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-');
        if (!ok) {
            *error = "bad fault \"" + std::string(spec) + "\": expected usb-driver:NAME (letters, digits, _ and -)";
            return FaultParse::Malformed;
        }
        faults->kernelDriver = value;
        return FaultParse::Applied;
    }
    return FaultParse::NotMine;
}

std::string UsbDeviceFaultHelp() {
    return "  USB device faults (with --usb-umockdev):\n"
           "  usb-unplug:N         the device is unplugged once it took N bulk OUT bytes:\n"
           "                       transfers in flight end with the device gone\n"
           "  usb-driver:NAME      kernel driver NAME holds the interface when the device\n"
           "                       appears; the host must detach it to claim the interface\n";
}

}  // namespace vsim
