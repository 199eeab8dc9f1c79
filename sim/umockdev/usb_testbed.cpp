#include "usb_testbed.h"

#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace vsim {
namespace {

constexpr uint16_t kVendorId = 0x2B4E;
constexpr uint16_t kProductId = 0x7A31;
constexpr uint16_t kBulkPacketSize = 512;  // high speed
constexpr uint8_t kEndpointOut = 0x01;
constexpr uint8_t kEndpointIn = 0x82;
// The port the device sits on; it keeps its port when it re-enumerates.
constexpr const char* kSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";

void Put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// What the kernel shows in sysfs "descriptors": the device descriptor, then the
// active configuration with its interface and endpoints.
std::vector<uint8_t> Descriptors() {
    std::vector<uint8_t> d = {18, 0x01};  // device
    Put16(d, 0x0200);                     // USB 2.0
    d.insert(d.end(), {0xFF, 0x00, 0x00, 64});
    Put16(d, kVendorId);
    Put16(d, kProductId);
    Put16(d, 0x0100);
    d.insert(d.end(), {0, 0, 0, 1});  // no strings, one configuration
    const uint16_t total = 9 + 9 + 7 + 7;
    d.insert(d.end(), {9, 0x02});
    Put16(d, total);
    d.insert(d.end(), {1, 1, 0, 0x80, 50});                      // one interface, bus powered, 100 mA
    d.insert(d.end(), {9, 0x04, 0, 0, 2, 0xFF, 0x00, 0x00, 0});  // interface 0: two endpoints
    for (uint8_t endpoint : {kEndpointOut, kEndpointIn}) {
        d.insert(d.end(), {7, 0x05, endpoint, 0x02});  // bulk
        Put16(d, kBulkPacketSize);
        d.push_back(0);
    }
    return d;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    return text;
}

}  // namespace

std::string UsbNodePath(int bus, int address) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", bus, address);
    return path;
}

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {
    if (!testbed_) throw std::runtime_error("cannot create the umockdev test bed");
    gchar* root = umockdev_testbed_get_root_dir(testbed_.Get());
    dir_ = root;
    g_free(root);
    // UMOCKDEV_DIR now names the test bed in this process too: the udev events that
    // tell hosts of the device are built from its sysfs, read through the preload.
    // Hosts may run as another user than the board.
    ::chmod(dir_.c_str(), 0755);
}

UsbTestbed::~UsbTestbed() = default;

std::string UsbTestbed::Plug(int address, UMockdevIoctlBase* handler) {
    std::string node = UsbNodePath(kUsbBus, address);
    GError* error = nullptr;
    // The handler first, so that a host that hears of the device can open it at once.
    if (!umockdev_testbed_attach_ioctl(testbed_.Get(), node.c_str(), handler, &error)) {
        std::string why = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot serve " + node + " in the umockdev test bed: " + why);
    }
    char record[2048];
    std::snprintf(record, sizeof record,
                  "P: %s\n"
                  "N: %s\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DEVNAME=%s\n"
                  "E: BUSNUM=%03d\n"
                  "E: DEVNUM=%03d\n"
                  "E: PRODUCT=%x/%x/100\n"
                  "A: busnum=%d\\n\n"
                  "A: devnum=%d\\n\n"
                  "A: idVendor=%04x\\n\n"
                  "A: idProduct=%04x\\n\n"
                  "A: bcdDevice=0100\\n\n"
                  "A: bConfigurationValue=1\\n\n"
                  "A: bNumConfigurations=1\\n\n"
                  "A: bNumInterfaces= 1\\n\n"
                  "A: speed=480\\n\n"
                  "H: descriptors=%s\n",
                  kSysPath + 4, node.c_str() + 5, node.c_str(), kUsbBus, address, kVendorId, kProductId, kUsbBus,
                  address, kVendorId, kProductId, Hex(Descriptors()).c_str());
    if (!umockdev_testbed_add_from_string(testbed_.Get(), record, &error)) {
        std::string why = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot add the USB device to the umockdev test bed: " + why);
    }
    syspath_ = kSysPath;
    umockdev_testbed_uevent(testbed_.Get(), syspath_.c_str(), "add");
    return node;
}

void UsbTestbed::Unplug() {
    if (syspath_.empty()) return;
    umockdev_testbed_uevent(testbed_.Get(), syspath_.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_.Get(), syspath_.c_str());
    syspath_.clear();
}

}  // namespace vsim
