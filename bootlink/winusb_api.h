// The Windows calls under the WinUSB driver layer (usb_winusb.cpp), one method a
// step: SetupAPI's device list, CreateFile with WinUsb_Initialize, the pipe
// time-out policy and the bulk transfers. winusb_api_win32.cpp makes the real
// calls and maps each failure to the library's error kinds where it happens; tests
// play Windows' part with a fake, since no USB device can be reached under Wine.
#pragma once

#include <bootwire/bootwire.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb_driver.h"

namespace bootwire::usb {

struct WinUsbStatus {
    Error error = Error::Ok;
    std::string detail;  // the system's words, for messages
    bool Ok() const { return error == Error::Ok; }
};

// One present device with the vendor and product asked for.
struct WinUsbCandidate {
    std::string path;      // the device interface to open
    std::string instance;  // the device instance id, for messages ("USB\VID_2B4E&PID_7A31\...")
    bool winusb = false;   // WinUSB is its driver; any other driver cannot be opened here
    // Where it is plugged in: Windows' location paths ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)",
    // and others of other forms), and the hub port ("Port_#0002.Hub_#0001"), whose hub
    // number changes with the order hubs come in. Either may be empty.
    std::vector<std::string> locationPaths;
    std::string hubPort;
    std::string serial;   // its serial number, when it reports one
    std::string product;  // what Windows calls it
};

// An open WinUSB interface (WinUsb_Initialize on the device's handle).
class WinUsbInterface {
public:
    virtual ~WinUsbInterface() = default;
    // WinUsb_SetPipePolicy(pipe, PIPE_TRANSFER_TIMEOUT, milliseconds).
    virtual WinUsbStatus SetPipeTimeout(uint8_t pipe, uint32_t milliseconds) = 0;
    // WinUsb_ReadPipe / WinUsb_WritePipe; *moved holds what moved, also on failure.
    virtual WinUsbStatus ReadPipe(uint8_t pipe, uint8_t* buffer, uint32_t n, uint32_t* moved) = 0;
    virtual WinUsbStatus WritePipe(uint8_t pipe, const uint8_t* buffer, uint32_t n, uint32_t* moved) = 0;
};

class WinUsbApi {
public:
    virtual ~WinUsbApi() = default;
    // The present devices with this vendor and product id, in SetupAPI's order.
    virtual WinUsbStatus FindDevices(uint16_t vendor, uint16_t product, std::vector<WinUsbCandidate>* found) = 0;
    // Opens the device for reading and writing and initialises WinUSB on it;
    // nullptr with *status saying why.
    virtual std::unique_ptr<WinUsbInterface> Open(const std::string& path, WinUsbStatus* status) = 0;
};

// The driver records carried out through `api`.
std::unique_ptr<Driver> MakeWinUsbDriver(std::shared_ptr<WinUsbApi> api);

// Windows' own SetupAPI and WinUSB (Windows builds only).
std::shared_ptr<WinUsbApi> MakeSystemWinUsbApi();

}  // namespace bootwire::usb
