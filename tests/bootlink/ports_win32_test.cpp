// The Windows port listing: what an adapter's SetupAPI texts become, and the
// ports the registry's SERIALCOMM map names (Wine lets a test add some; Windows
// needs an administrator, and the test is then skipped).
#include "ports_win32.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/win32_support.h"
#include "ports.h"

namespace bootwire {
namespace {

PortInfo Named(const char* name) {
    PortInfo port;
    port.name = name;
    return port;
}

TEST(WindowsPortDetails, UsbAdaptersGiveTheirIdsSerialNumberAndName) {
    PortInfo ftdi = Named("COM3");
    AddDeviceDetails(L"FTDIBUS\\COMPORT&VID_0403&PID_6001", L"FTDIBUS\\VID_0403+PID_6001+A10KZ3A\\0000",
                     L"USB Serial Port (COM3)", &ftdi);
    EXPECT_EQ(ftdi.usbVendor, 0x0403);
    EXPECT_EQ(ftdi.usbProduct, 0x6001);
    EXPECT_EQ(ftdi.usbSerial, "");  // FTDI's own bus: no USB instance id to read it from
    EXPECT_EQ(ftdi.description, "USB Serial Port");

    PortInfo cdc = Named("COM12");
    AddDeviceDetails(L"USB\\VID_2e8a&PID_000a&REV_0100", L"USB\\VID_2E8A&PID_000A\\E6614C311B6A3A2B",
                     L"USB-Serial Device (COM12)", &cdc);
    EXPECT_EQ(cdc.usbVendor, 0x2e8a);
    EXPECT_EQ(cdc.usbProduct, 0x000a);
    EXPECT_EQ(cdc.usbSerial, "E6614C311B6A3A2B");
    EXPECT_EQ(cdc.description, "USB-Serial Device");

    // A composite device's function has a made-up instance id: no serial number.
    PortInfo function = Named("COM4");
    AddDeviceDetails(L"USB\\VID_0483&PID_5740&MI_00", L"USB\\VID_0483&PID_5740&MI_00\\6&2B3C1D&0&0000",
                     L"STMicroelectronics Virtual COM Port (COM4)", &function);
    EXPECT_EQ(function.usbVendor, 0x0483);
    EXPECT_EQ(function.usbSerial, "");
    EXPECT_EQ(function.description, "STMicroelectronics Virtual COM Port");

    PortInfo uart = Named("COM1");
    AddDeviceDetails(L"ACPI\\PNP0501", L"ACPI\\PNP0501\\0", L"Communications Port (COM1)", &uart);
    EXPECT_EQ(uart.usbVendor, 0);
    EXPECT_EQ(uart.usbProduct, 0);
    EXPECT_EQ(uart.usbSerial, "");
    EXPECT_EQ(uart.description, "Communications Port");
}

// Adds test ports to SERIALCOMM and takes them out again.
class SerialCommEntries {
public:
    SerialCommEntries() {
        ok_ = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_READ | KEY_WRITE, nullptr, &key_, nullptr) == ERROR_SUCCESS;
    }
    ~SerialCommEntries() {
        if (!ok_) return;
        for (const std::wstring& name : added_) ::RegDeleteValueW(key_, name.c_str());
        ::RegCloseKey(key_);
    }
    bool Ok() const { return ok_; }
    bool Add(const std::wstring& device, const std::wstring& port) {
        const DWORD size = static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t));
        if (::RegSetValueExW(key_, device.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()), size) !=
            ERROR_SUCCESS) {
            return false;
        }
        added_.push_back(device);
        return true;
    }

private:
    HKEY key_ = nullptr;
    bool ok_ = false;
    std::vector<std::wstring> added_;
};

TEST(WindowsPortList, TheRegistrysPortsInNumberOrder) {
    SerialCommEntries entries;
    if (!entries.Ok() || !entries.Add(L"\\Device\\SealbenchTest0", L"COM123") ||
        !entries.Add(L"\\Device\\SealbenchTest1", L"COM57")) {
        GTEST_SKIP() << "SERIALCOMM cannot be written here (Windows wants an administrator)";
    }
    std::vector<PortInfo> ports = ListSystemSerialPorts();
    auto at = [&](const char* name) {
        return std::find_if(ports.begin(), ports.end(), [&](const PortInfo& p) { return p.name == name; });
    };
    ASSERT_NE(at("COM57"), ports.end());
    ASSERT_NE(at("COM123"), ports.end());
    EXPECT_LT(at("COM57"), at("COM123"));  // by number, not by text
    EXPECT_EQ(at("COM57")->kind, PortInfo::Kind::Serial);
}

}  // namespace
}  // namespace bootwire
