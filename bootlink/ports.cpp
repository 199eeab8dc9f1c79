// ListPorts(): the system's serial ports, then the USB boot devices the driver layer
// in force finds.
#include "ports.h"

#include "usb_driver.h"

namespace bootwire {

std::vector<PortInfo> ListPorts() {
    std::vector<PortInfo> ports = ListSystemSerialPorts();
    std::vector<PortInfo> usb = usb::ListBootDevices(usb::SystemDriver());
    ports.insert(ports.end(), usb.begin(), usb.end());
    return ports;
}

std::vector<PortInfo> ListSerialPorts() { return ListSystemSerialPorts(); }

std::unique_ptr<Transport> OpenUsbAt(const std::string& location, Error* error, std::string* detail) {
    return usb::OpenBootDeviceAt(usb::SystemDriver(), location, error, detail);
}

}  // namespace bootwire
