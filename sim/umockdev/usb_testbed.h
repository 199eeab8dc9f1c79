// The umockdev test bed that holds the virtual board's USB boot device: a private
// sysfs and /dev in a temporary folder, where programs started under
// umockdev-wrapper with UMOCKDEV_DIR set to that folder find the device (libusb
// reads its descriptors from sysfs and opens /dev/bus/usb/BBB/DDD, whose usbfs
// requests reach the handler attached here).
#pragma once

#include <umockdev.h>

#include <string>

#include "gobject_ptr.h"

namespace vsim {

inline constexpr int kUsbBus = 1;

class UsbTestbed {
public:
    // Throws std::runtime_error when the test bed cannot be made.
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // The folder to hand to programs as UMOCKDEV_DIR.
    const std::string& Dir() const { return dir_; }

    // Plugs the boot device in as device `address` on bus 1, its node's usbfs
    // requests going to `handler`, and tells listening hosts (a udev "add" event).
    // Returns the node ("/dev/bus/usb/001/002"); throws std::runtime_error.
    std::string Plug(int address, UMockdevIoctlBase* handler);
    // Takes the plugged device away again (a udev "remove" event). Hosts that still
    // hold its node keep their connection to its handler, which answers them as a
    // device that is gone.
    void Unplug();

private:
    GObjectPtr<UMockdevTestbed> testbed_;
    std::string dir_;
    std::string syspath_;  // of the plugged device; empty while none is
};

// "/dev/bus/usb/001/002" for device 2 on bus 1.
std::string UsbNodePath(int bus, int address);

}  // namespace vsim
