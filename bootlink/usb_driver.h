// The USB boot device is reached through a driver layer that takes four kinds of
// request records (version, scan, open, transfer). The records have a fixed byte
// layout; the driver writes its answers into the same record.
//
// Driver layers: libusb for real devices on POSIX systems (usb_libusb.cpp), WinUSB
// on Windows (usb_winusb.cpp), and the virtual board's stream (usb_sim.cpp). Tests
// hand the transport a fake one.
#pragma once

#include <bootwire/bootwire.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace bootwire::usb {

inline constexpr uint32_t kVersionRequest = 0x95382443;
inline constexpr uint32_t kScanRequest = 0x953825A7;
inline constexpr uint32_t kOpenRequest = 0x953825A3;
inline constexpr uint32_t kTransferRequest = 0x9538259F;

inline constexpr size_t kVersionRecordSize = 104;
inline constexpr size_t kScanRecordSize = 2056;
inline constexpr size_t kOpenRecordSize = 804;
inline constexpr size_t kTransferRecordSize = 48;

inline constexpr uint32_t kMinimumDriverVersion = 522;
inline constexpr uint32_t kVendorId = 0x2B4E;
inline constexpr uint32_t kProductId = 0x7A31;
inline constexpr uint32_t kInterfaceMarker = 0xFFFFFFFF;
inline constexpr uint32_t kPipeOut = 0x01;
inline constexpr uint32_t kPipeIn = 0x82;
inline constexpr uint32_t kSendTimeoutMs = 10'000;
inline constexpr uint32_t kReceiveTimeoutMs = 300'000;

// Scan record: device i's unique id at 12 + 4i, its interface marker at 192 + 64i.
inline constexpr size_t kMaxScanDevices = (kScanRecordSize - 4 - 192) / 64 + 1;
inline constexpr size_t ScanIdOffset(size_t i) { return 12 + 4 * i; }
inline constexpr size_t ScanMarkerOffset(size_t i) { return 192 + 64 * i; }

// Transfer record fields.
inline constexpr size_t kTransferDevice = 0;
inline constexpr size_t kTransferPipe = 4;
inline constexpr size_t kTransferDirection = 8;
inline constexpr size_t kTransferBufferAddress = 16;
inline constexpr size_t kTransferLength = 20;
inline constexpr size_t kTransferTimeout = 24;
inline constexpr size_t kTransferMoved = 28;
inline constexpr size_t kTransferSuccess = 40;

inline uint32_t GetField(const uint8_t* record, size_t offset) {
    uint32_t v;
    std::memcpy(&v, record + offset, 4);
    return v;
}
inline void PutField(uint8_t* record, size_t offset, uint32_t value) { std::memcpy(record + offset, &value, 4); }

// The version and scan requests of a driver layer over a platform's USB library:
// its version, and the boot devices its Scan(record) finds. False for other codes
// and for a scan record too small to take the answer.
template <typename PlatformDriver>
bool AnswerLookup(uint32_t code, uint8_t* record, size_t size, uint32_t version, PlatformDriver& driver) {
    if (code == kVersionRequest) {
        PutField(record, 0, version);
        return true;
    }
    if (code != kScanRequest || size < kScanRecordSize) return false;
    driver.Scan(record);
    return true;
}

// One open handle of the driver layer.
class DriverHandle {
public:
    virtual ~DriverHandle() = default;
    // Carries out one request. For transfers the caller's buffer travels beside the
    // record (its 4-byte address field cannot hold a 64-bit pointer). False when the
    // driver refused the request as a whole.
    virtual bool Request(uint32_t code, uint8_t* record, size_t size, uint8_t* buffer) = 0;
    // Why the last transfer request on this handle failed, beyond the record's success
    // flag: a device that went away is not a time-out. Layers that cannot tell say
    // Timeout, the only failure the record itself can express.
    virtual Error LastTransferError(std::string* detail) const {
        (void)detail;
        return Error::Timeout;
    }
};

// Where a device of the last scan sits and what it says of itself.
struct DeviceLocation {
    std::string location;  // see OpenUsbAt
    // Other names OpenUsbAt takes for the same place: an older form that scripts may
    // hold, the system's own long form.
    std::vector<std::string> otherNames;
    std::string serial;
    std::string product;
};

class Driver {
public:
    virtual ~Driver() = default;
    // Where device `uniqueId` of the last scan sits; false when this layer cannot
    // tell (the device is then located by its unique id in decimal).
    virtual bool Locate(uint32_t uniqueId, DeviceLocation* where) {
        (void)uniqueId;
        (void)where;
        return false;
    }
    // Opens a handle; nullptr when the driver cannot be reached (reason in *why).
    virtual std::unique_ptr<DriverHandle> Open(std::string* why) = 0;
    // Why the last open request failed, beyond the device handle 0 (permissions...).
    virtual Error LastOpenError() const { return Error::Driver; }
    virtual std::string LastOpenDetail() const { return {}; }
};

// The driver layer in force: the virtual board when BOOTWIRE_USB_SIM names it (a
// socket path or tcp:HOST:PORT), else the platform's own.
std::shared_ptr<Driver> SystemDriver();
// libusb on POSIX systems, WinUSB on Windows.
std::unique_ptr<Driver> MakePlatformDriver();
std::unique_ptr<Driver> MakeLibusbDriver();
std::unique_ptr<Driver> MakeSimDriver(std::string address);

// Finds and opens the first usable boot device through `driver`, printing the
// diagnostics on stdout. nullptr when none could be opened. The transport shares
// the driver, so that a device still open at process exit can be released whatever
// order the process-wide objects go in.
std::unique_ptr<Transport> Enumerate(std::shared_ptr<Driver> driver, Error* error, std::string* detail);

// Every boot device a scan finds, with its location, sorted by location; devices
// without the boot interface are left out. Prints nothing.
std::vector<PortInfo> ListBootDevices(const std::shared_ptr<Driver>& driver);

// Opens the boot device at `location` (see OpenUsbAt). Prints nothing.
std::unique_ptr<Transport> OpenBootDeviceAt(std::shared_ptr<Driver> driver, const std::string& location, Error* error,
                                            std::string* detail);

}  // namespace bootwire::usb
