// The USB transport: finding, opening and moving bytes through driver requests.
#include <cstdio>

#include "usb_driver.h"

namespace bootwire::usb {
namespace {

std::unique_ptr<DriverHandle> CheckDriver(Driver& driver, std::string* why) {
    auto handle = driver.Open(why);
    if (!handle) {
        std::fputs("Cannot open WinDriver device\n", stdout);
        return nullptr;
    }
    uint8_t record[kVersionRecordSize] = {};
    if (!handle->Request(kVersionRequest, record, sizeof record, nullptr) ||
        GetField(record, 0) < kMinimumDriverVersion) {
        std::fputs("Error - incorrect WinDriver version\n", stdout);
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

}  // namespace

std::unique_ptr<Transport> Enumerate(std::shared_ptr<Driver> shared, Error* error, std::string* detail) {
    Driver& driver = *shared;
    *error = Error::NotFound;
    detail->clear();
    auto scanHandle = CheckDriver(driver, detail);
    if (!scanHandle) {
        *error = Error::Driver;
        return nullptr;
    }
    std::vector<uint8_t> scan(kScanRecordSize, 0);
    PutField(scan.data(), 0, kVendorId);
    PutField(scan.data(), 4, kProductId);
    scanHandle->Request(kScanRequest, scan.data(), scan.size(), nullptr);
    uint32_t count = GetField(scan.data(), 8);
    if (count == 0) {
        std::fputs("No deviced found\n", stdout);
        return nullptr;
    }
    uint32_t uniqueId = 0;
    bool marked = false;
    for (size_t i = 0; i < count && i < kMaxScanDevices; ++i) {
        if (GetField(scan.data(), ScanMarkerOffset(i)) == kInterfaceMarker) {
            uniqueId = GetField(scan.data(), ScanIdOffset(i));
            marked = true;
            break;
        }
    }
    if (!marked || uniqueId == 0) {
        std::fputs("Could not find the device interface.\n", stdout);
        return nullptr;
    }

    std::string why;
    auto deviceDriver = driver.Open(&why);
    std::string openError;
    uint32_t device = 0;
    if (!deviceDriver) {
        openError = "Failed opening WinDriver device\n";
    } else {
        uint8_t version[kVersionRecordSize] = {};
        if (!deviceDriver->Request(kVersionRequest, version, sizeof version, nullptr) ||
            GetField(version, 0) < kMinimumDriverVersion) {
            openError = "Incorrect WinDriver version\n";
        } else {
            uint8_t open[kOpenRecordSize] = {};
            PutField(open, 0, uniqueId);
            deviceDriver->Request(kOpenRequest, open, sizeof open, nullptr);
            device = GetField(open, 16);
            if (device == 0) {
                openError = "Could not open device\n";
                *error = driver.LastOpenError();
                *detail = driver.LastOpenDetail();
            }
        }
    }
    if (!openError.empty()) {
        std::printf("%s\n", openError.c_str());
        std::fflush(stdout);
        if (*error == Error::NotFound) {
            *error = Error::Driver;
        }
        return nullptr;
    }
    std::fflush(stdout);
    *error = Error::Ok;
    return std::make_unique<UsbTransport>(std::move(shared), std::move(deviceDriver), device);
}

}  // namespace bootwire::usb
