// Faults of the virtual board's USB device itself (not of the board behind it),
// given as --fault texts. Parsed by vireo-sim, played by vireo-usb-umockdev.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/faults.h"

namespace vsim {

struct UsbDeviceFaults {
    // The device is unplugged once it took this many bulk OUT bytes: transfers in
    // flight end with the device gone, and it does not come back.
    std::optional<uint64_t> unplugAfter;
    // A kernel driver of this name holds the interface when the device appears;
    // a host must detach it to claim the interface.
    std::string kernelDriver;
};

FaultParse ParseUsbDeviceFault(std::string_view spec, UsbDeviceFaults* faults, std::string* error);
std::string UsbDeviceFaultHelp();

}  // namespace vsim
