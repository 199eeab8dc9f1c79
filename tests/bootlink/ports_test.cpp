// What the library lists as ports: the serial ports of a /dev and /sys tree made
// here, and the USB boot devices of real vireo-sim processes serving a folder of
// sockets, each of them then opened by its location.
#include "ports.h"

#include <bootwire/bootwire.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "sim_process.h"

namespace bootwire {
namespace {

namespace fs = std::filesystem;
using sealtest::SimProcess;

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/sealbench-ports-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

TEST(SerialPortList, AdaptersWithTheirUsbDeviceAndUartsThatAnswer) {
    TempFolder root;
    const fs::path dev = root.path() / "dev";
    const fs::path sys = root.path() / "sys";
    for (const char* node : {"ttyUSB0", "ttyACM1", "ttyS0", "ttyS1", "tty0", "null"}) Write(dev / node, "");
    fs::create_directories(dev / "serial" / "by-id");
    fs::create_symlink("../../ttyUSB0", dev / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A10KZ3-if00-port0");

    // ttyUSB0 hangs off 1-4 through its interface 1-4:1.0, as the kernel lays it out.
    const fs::path usbDevice = sys / "devices" / "pci0000:00" / "usb1" / "1-4";
    Write(usbDevice / "idVendor", "0403");
    Write(usbDevice / "idProduct", "6001");
    Write(usbDevice / "serial", "A10KZ3");
    Write(usbDevice / "product", "FT232R USB UART");
    fs::create_directories(usbDevice / "1-4:1.0" / "ttyUSB0");
    fs::create_directories(sys / "class" / "tty" / "ttyUSB0");
    fs::create_directory_symlink(usbDevice / "1-4:1.0" / "ttyUSB0", sys / "class" / "tty" / "ttyUSB0" / "device");
    // ttyACM1's device has no serial string.
    const fs::path acm = sys / "devices" / "pci0000:00" / "usb2" / "2-1";
    Write(acm / "idVendor", "2e8a");
    Write(acm / "idProduct", "000a");
    fs::create_directories(acm / "2-1:1.0");
    fs::create_directories(sys / "class" / "tty" / "ttyACM1");
    fs::create_directory_symlink(acm / "2-1:1.0", sys / "class" / "tty" / "ttyACM1" / "device");
    // A 16550A behind ttyS0 (type 4); nothing behind ttyS1 (PORT_UNKNOWN).
    Write(sys / "class" / "tty" / "ttyS0" / "type", "4");
    Write(sys / "class" / "tty" / "ttyS1" / "type", "0");

    std::vector<PortInfo> ports = ListSerialPortsUnder(dev.string(), sys.string());
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].name, (dev / "ttyACM1").string());
    EXPECT_EQ(ports[0].usbVendor, 0x2e8a);
    EXPECT_EQ(ports[0].usbProduct, 0x000a);
    EXPECT_EQ(ports[0].usbSerial, "");
    EXPECT_EQ(ports[0].stableName, "");

    EXPECT_EQ(ports[1].name, (dev / "ttyS0").string());
    EXPECT_EQ(ports[1].description, "on-board UART");
    EXPECT_EQ(ports[1].usbVendor, 0);

    const PortInfo& ftdi = ports[2];
    EXPECT_EQ(ftdi.kind, PortInfo::Kind::Serial);
    EXPECT_EQ(ftdi.name, (dev / "ttyUSB0").string());
    EXPECT_EQ(ftdi.stableName, "usb-FTDI_FT232R_USB_UART_A10KZ3-if00-port0");
    EXPECT_EQ(ftdi.usbVendor, 0x0403);
    EXPECT_EQ(ftdi.usbProduct, 0x6001);
    EXPECT_EQ(ftdi.usbSerial, "A10KZ3");
    EXPECT_EQ(ftdi.description, "FT232R USB UART");

    EXPECT_TRUE(ListSerialPortsUnder((root.path() / "none").string(), sys.string()).empty());
}

class UsbSimEnvironment {
public:
    explicit UsbSimEnvironment(const std::string& value) { ::setenv("BOOTWIRE_USB_SIM", value.c_str(), 1); }
    ~UsbSimEnvironment() { ::unsetenv("BOOTWIRE_USB_SIM"); }
};

std::vector<PortInfo> UsbDevices() {
    std::vector<PortInfo> devices;
    for (PortInfo& port : ListPorts()) {
        if (port.kind == PortInfo::Kind::UsbBoot) devices.push_back(std::move(port));
    }
    return devices;
}

// Board `sim` answers register writes into its RAM, read back through `transport`.
void ExpectTalksTo(std::unique_ptr<Transport> transport, uint32_t value) {
    ASSERT_TRUE(transport);
    Link link(std::move(transport));
    ASSERT_EQ(link.WriteRegister(0x80000100, value, 32, 0), Error::Ok) << link.ErrorDetail();
    uint8_t back[4] = {};
    ASSERT_EQ(link.ReadData(0x80000100, back, sizeof back, 32), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(back[0] | back[1] << 8 | back[2] << 16 | static_cast<uint32_t>(back[3]) << 24, value);
}

TEST(UsbBootDevices, AFolderOfSocketsIsOneDeviceEachOpenedByLocation) {
    TempFolder folder;
    SimProcess a("VireoC_TO2", {"--usb-socket", (folder.path() / "rack-a.sock").string()});
    SimProcess b("VireoC_TO2", {"--usb-socket", (folder.path() / "rack-b.sock").string()});
    ASSERT_TRUE(a.ok() && b.ok()) << a.error() << b.error();
    Write(folder.path() / "notes.txt", "not a socket");
    UsbSimEnvironment environment(folder.path().string());

    std::vector<PortInfo> devices = UsbDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "sim:rack-a");
    EXPECT_EQ(devices[1].name, "sim:rack-b");
    EXPECT_EQ(devices[1].usbVendor, 0x2b4e);
    EXPECT_EQ(devices[1].usbProduct, 0x7a31);

    // Both at once, each by its location.
    Error error = Error::Ok;
    std::string detail;
    auto second = OpenUsbAt("sim:rack-b", &error, &detail);
    EXPECT_EQ(error, Error::Ok) << detail;
    auto first = OpenUsbAt("sim:rack-a", &error, &detail);
    EXPECT_EQ(error, Error::Ok) << detail;
    ExpectTalksTo(std::move(second), 0xB0B0B0B0);
    ExpectTalksTo(std::move(first), 0xA0A0A0A0);

    auto none = OpenUsbAt("sim:rack-c", &error, &detail);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(error, Error::NotFound);
    EXPECT_NE(detail.find("sim:rack-c"), std::string::npos) << detail;

    // The classic enumeration keeps taking the first device.
    EXPECT_EQ(b.Stop(), 0);
    ExpectTalksTo(OpenUsb(&error, &detail), 0x12345678);
}

TEST(UsbBootDevices, ASingleSocketIsLocatedByItsName) {
    SimProcess sim("VireoB", {}, true);
    ASSERT_TRUE(sim.ok()) << sim.error();
    UsbSimEnvironment environment(sim.usbSocket());
    std::vector<PortInfo> devices = UsbDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "sim:usb");
    Error error = Error::Ok;
    std::string detail;
    auto transport = OpenUsbAt("sim:usb", &error, &detail);
    EXPECT_EQ(error, Error::Ok) << detail;
    EXPECT_TRUE(transport);
}

}  // namespace
}  // namespace bootwire
