// The USB transport: finding, opening and moving bytes through driver requests.
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "diagnostics.h"
#include "usb_driver.h"

namespace bootwire::usb {
namespace {

std::unique_ptr<DriverHandle> CheckDriver(Driver& driver, std::string* why) {
    auto handle = driver.Open(why);
    if (!handle) {
        Diagnose("Cannot open WinDriver device");
        return nullptr;
    }
    uint8_t record[kVersionRecordSize] = {};
    if (!handle->Request(kVersionRequest, record, sizeof record, nullptr) ||
        GetField(record, 0) < kMinimumDriverVersion) {
        Diagnose("Error - incorrect WinDriver version");
        return nullptr;
    }
    return handle;
}

class UsbTransport final : public Transport {
public:
    UsbTransport(std::shared_ptr<Driver> driver, std::unique_ptr<DriverHandle> deviceDriver, uint32_t device)
        : driver_(std::move(driver)), deviceDriver_(std::move(deviceDriver)), device_(device) {}
    ~UsbTransport() override { deviceDriver_.reset(); }  // before the driver it belongs to

    Error Send(const uint8_t* data, size_t n, const SendObserver* sent) override {
        size_t moved = 0;
        Error e = Transfer(kPipeOut, 0, const_cast<uint8_t*>(data), n, kSendTimeoutMs, &moved);
        if (e == Error::Ok && moved != n) {
            e = Fail(Error::Timeout,
                     "the device took " + std::to_string(moved) + " of " + std::to_string(n) + " bytes");
        }
        if (e == Error::Ok && sent) {
            (*sent)(n);
        }
        return e;
    }

    Error Receive(uint8_t* data, size_t n, size_t* received) override {
        uint32_t timeout = kReceiveTimeoutMs;
        if (limitMs_ > 0 && static_cast<uint32_t>(limitMs_) < timeout) {
            timeout = static_cast<uint32_t>(limitMs_);
        }
        return Transfer(kPipeIn, 1, data, n, timeout, received);
    }

    std::string Describe() const override { return "USB 2b4e:7a31"; }
    void SetReceiveTimeoutLimit(int milliseconds) override { limitMs_ = milliseconds; }

private:
    Error Transfer(uint32_t pipe, uint32_t direction, uint8_t* buffer, size_t n, uint32_t timeout, size_t* moved) {
        *moved = 0;
        uint8_t record[kTransferRecordSize] = {};
        PutField(record, kTransferDevice, device_);
        PutField(record, kTransferPipe, pipe);
        PutField(record, kTransferDirection, direction);
        PutField(record, kTransferBufferAddress, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer)));
        PutField(record, kTransferLength, static_cast<uint32_t>(n));
        PutField(record, kTransferTimeout, timeout);
        std::string why;
        auto handle = driver_->Open(&why);
        if (!handle) {
            return Fail(Error::Driver, "the USB driver could not be opened: " + why);
        }
        bool accepted = handle->Request(kTransferRequest, record, sizeof record, buffer);
        *moved = GetField(record, kTransferMoved);
        if (!accepted || GetField(record, kTransferSuccess) == 0) {
            std::string reason;
            Error error = handle->LastTransferError(&reason);
            if (error == Error::Timeout) {
                reason = direction ? "the device sent no data in time" : "the device did not take the data in time";
            } else if (error == Error::Gone) {
                reason = "the USB device is gone (unplugged or reset)" + (reason.empty() ? "" : ": " + reason);
            }
            return Fail(error, reason);
        }
        return Error::Ok;
    }

    std::shared_ptr<Driver> driver_;
    std::unique_ptr<DriverHandle> deviceDriver_;  // keeps the device open
    uint32_t device_;
    int limitMs_ = 0;
};

// What a scan found: each device's unique id and whether it has the boot interface.
struct ScannedDevice {
    uint32_t uniqueId = 0;
    bool marked = false;
};

std::vector<ScannedDevice> Scan(DriverHandle& handle) {
    std::vector<uint8_t> scan(kScanRecordSize, 0);
    PutField(scan.data(), 0, kVendorId);
    PutField(scan.data(), 4, kProductId);
    handle.Request(kScanRequest, scan.data(), scan.size(), nullptr);
    uint32_t count = GetField(scan.data(), 8);
    std::vector<ScannedDevice> devices;
    for (size_t i = 0; i < count && i < kMaxScanDevices; ++i) {
        devices.push_back(
            {GetField(scan.data(), ScanIdOffset(i)), GetField(scan.data(), ScanMarkerOffset(i)) == kInterfaceMarker});
    }
    return devices;
}

// Opens device `uniqueId` of the last scan on a driver handle of its own, which then
// keeps the device open. On failure *openError holds the driver's message.
std::unique_ptr<Transport> OpenDevice(const std::shared_ptr<Driver>& shared, uint32_t uniqueId, std::string* openError,
                                      Error* error, std::string* detail) {
    Driver& driver = *shared;
    std::string why;
    auto deviceDriver = driver.Open(&why);
    if (!deviceDriver) {
        *openError = "Failed opening WinDriver device\n";
        *error = Error::Driver;
        *detail = why;
        return nullptr;
    }
    uint8_t version[kVersionRecordSize] = {};
    if (!deviceDriver->Request(kVersionRequest, version, sizeof version, nullptr) ||
        GetField(version, 0) < kMinimumDriverVersion) {
        *openError = "Incorrect WinDriver version\n";
        *error = Error::Driver;
        return nullptr;
    }
    uint8_t open[kOpenRecordSize] = {};
    PutField(open, 0, uniqueId);
    deviceDriver->Request(kOpenRequest, open, sizeof open, nullptr);
    uint32_t device = GetField(open, 16);
    if (device == 0) {
        *openError = "Could not open device\n";
        *error = driver.LastOpenError();
        *detail = driver.LastOpenDetail();
        if (*error == Error::NotFound || *error == Error::Ok) {
            *error = Error::Driver;
        }
        return nullptr;
    }
    *error = Error::Ok;
    return std::make_unique<UsbTransport>(shared, std::move(deviceDriver), device);
}

DeviceLocation LocationOf(Driver& driver, uint32_t uniqueId) {
    DeviceLocation where;
    if (!driver.Locate(uniqueId, &where) || where.location.empty()) {
        where.location = std::to_string(uniqueId);
    }
    return where;
}

// A driver layer keeps what its last scan found and why its last open failed: one
// scan-and-open at a time, whichever thread asks.
std::mutex& ScanMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::unique_ptr<Transport> Enumerate(std::shared_ptr<Driver> shared, Error* error, std::string* detail) {
    std::lock_guard lock(ScanMutex());
    *error = Error::NotFound;
    detail->clear();
    auto scanHandle = CheckDriver(*shared, detail);
    if (!scanHandle) {
        *error = Error::Driver;
        return nullptr;
    }
    std::vector<ScannedDevice> devices = Scan(*scanHandle);
    if (devices.empty()) {
        Diagnose("No deviced found");
        return nullptr;
    }
    auto first = std::find_if(devices.begin(), devices.end(), [](const ScannedDevice& d) { return d.marked; });
    if (first == devices.end() || first->uniqueId == 0) {
        Diagnose("Could not find the device interface.");
        return nullptr;
    }
    std::string openError;
    auto transport = OpenDevice(shared, first->uniqueId, &openError, error, detail);
    if (!transport) {
        Diagnose(openError);
    }
    return transport;
}

std::vector<PortInfo> ListBootDevices(const std::shared_ptr<Driver>& shared) {
    std::lock_guard lock(ScanMutex());
    std::string why;
    auto handle = shared->Open(&why);
    std::vector<PortInfo> found;
    if (!handle) {
        return found;
    }
    for (const ScannedDevice& device : Scan(*handle)) {
        if (!device.marked || device.uniqueId == 0) {
            continue;
        }
        DeviceLocation where = LocationOf(*shared, device.uniqueId);
        PortInfo port;
        port.kind = PortInfo::Kind::UsbBoot;
        port.name = where.location;
        port.description = where.product;
        port.usbVendor = static_cast<uint16_t>(kVendorId);
        port.usbProduct = static_cast<uint16_t>(kProductId);
        port.usbSerial = where.serial;
        found.push_back(std::move(port));
    }
    std::sort(found.begin(), found.end(), [](const PortInfo& a, const PortInfo& b) { return a.name < b.name; });
    return found;
}

std::unique_ptr<Transport> OpenBootDeviceAt(std::shared_ptr<Driver> shared, const std::string& location, Error* error,
                                            std::string* detail) {
    std::lock_guard lock(ScanMutex());
    *error = Error::NotFound;
    detail->clear();
    std::string why;
    auto handle = shared->Open(&why);
    if (!handle) {
        *error = Error::Driver;
        *detail = "the USB driver could not be opened" + (why.empty() ? std::string() : ": " + why);
        return nullptr;
    }
    for (const ScannedDevice& device : Scan(*handle)) {
        if (!device.marked || device.uniqueId == 0) {
            continue;
        }
        const DeviceLocation where = LocationOf(*shared, device.uniqueId);
        if (where.location != location &&
            std::find(where.otherNames.begin(), where.otherNames.end(), location) == where.otherNames.end()) {
            continue;
        }
        std::string openError;
        auto transport = OpenDevice(shared, device.uniqueId, &openError, error, detail);
        if (!transport && detail->empty()) {
            *detail = openError.substr(0, openError.find('\n'));
        }
        if (!transport) {
            *detail = "USB boot device at " + location + ": " + *detail;
        }
        return transport;
    }
    *detail = "no USB boot device at " + location;
    return nullptr;
}

}  // namespace bootwire::usb
