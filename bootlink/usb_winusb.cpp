// Driver layer for real boot devices on Windows: the scan, open and transfer
// records carried out with SetupAPI and WinUSB (through winusb_api.h). Written
// against that seam only, so it builds and is tested on every platform.
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>

#include "common/usb_location.h"
#include "usb_registry.h"
#include "winusb_api.h"

namespace bootwire::usb {
namespace {

constexpr uint32_t kWinUsbDriverVersion = 1000;

// A device's name is where it is plugged in, as its location path turns into text;
// the path itself and the hub port's older form name it too. A device behind no
// PCI host controller keeps its path; one without any path keeps the hub port form.
DeviceLocation PlaceOf(const WinUsbCandidate& candidate) {
    DeviceLocation where;
    for (const std::string& path : candidate.locationPaths) {
        if (std::optional<std::string> text = sealbench::UsbLocationOfPath(path); text && where.location.empty()) {
            where.location = *text;
        }
    }
    for (const std::string& path : candidate.locationPaths) {
        if (where.location.empty()) {
            where.location = path;
        } else if (path != where.location) {
            where.otherNames.push_back(path);
        }
    }
    if (where.location.empty()) {
        where.location = candidate.hubPort;
    } else if (!candidate.hubPort.empty()) {
        where.otherNames.push_back(candidate.hubPort);
    }
    return where;
}

struct OpenDevice {
    std::unique_ptr<WinUsbInterface> usb;
    std::string instance;
    std::map<uint8_t, uint32_t> pipeTimeouts;  // what each pipe's policy holds now
    std::mutex mutex;                          // one transfer at a time on a device
};

class WinUsbDriver final : public Driver {
public:
    explicit WinUsbDriver(std::shared_ptr<WinUsbApi> api) : api_(std::move(api)) {}

    std::unique_ptr<DriverHandle> Open(std::string* why) override;
    bool Locate(uint32_t uniqueId, DeviceLocation* where) override {
        std::lock_guard lock(mutex_);
        auto it = candidates_.find(uniqueId);
        if (it == candidates_.end()) {
            return false;
        }
        *where = PlaceOf(it->second);
        where->serial = it->second.serial;
        where->product = it->second.product;
        return true;
    }
    Error LastOpenError() const override { return lastError_; }
    std::string LastOpenDetail() const override { return lastDetail_; }

    void Scan(uint8_t* record) {
        std::vector<WinUsbCandidate> found;
        WinUsbStatus status = api_->FindDevices(static_cast<uint16_t>(GetField(record, 0)),
                                                static_cast<uint16_t>(GetField(record, 4)), &found);
        std::lock_guard lock(mutex_);
        candidates_.clear();
        if (!status.Ok()) {
            found.clear();
        }
        uint32_t count = 0;
        for (const WinUsbCandidate& candidate : found) {
            if (count == kMaxScanDevices) {
                break;
            }
            // Ids count from 1: 0 would read as "no device".
            uint32_t id = count + 1;
            candidates_[id] = candidate;
            PutField(record, ScanIdOffset(count), id);
            PutField(record, ScanMarkerOffset(count), candidate.winusb ? kInterfaceMarker : 0);
            ++count;
        }
        PutField(record, 8, count);
    }

    uint32_t OpenById(uint32_t uniqueId) {
        WinUsbCandidate candidate;
        {
            std::lock_guard lock(mutex_);
            auto it = candidates_.find(uniqueId);
            if (it == candidates_.end()) {
                lastError_ = Error::NotFound;
                lastDetail_ = "no USB boot device was found with id " + std::to_string(uniqueId);
                return 0;
            }
            candidate = it->second;
        }
        WinUsbStatus status;
        auto usb = api_->Open(candidate.path, &status);
        if (!usb) {
            lastError_ = status.error == Error::Ok ? Error::Driver : status.error;
            lastDetail_ = "USB device " + candidate.instance + ": " + status.detail;
            return 0;
        }
        auto device = std::make_shared<OpenDevice>();
        device->usb = std::move(usb);
        device->instance = std::move(candidate.instance);
        return devices_.Add(std::move(device));
    }

    DeviceRegistry<OpenDevice>& devices() { return devices_; }

private:
    std::shared_ptr<WinUsbApi> api_;
    std::mutex mutex_;
    std::map<uint32_t, WinUsbCandidate> candidates_;
    DeviceRegistry<OpenDevice> devices_;
    Error lastError_ = Error::Driver;
    std::string lastDetail_;
};

class WinUsbHandle final : public DriverHandle {
public:
    explicit WinUsbHandle(WinUsbDriver& driver) : driver_(driver) {}

    bool Request(uint32_t code, uint8_t* record, size_t size, uint8_t* buffer) override {
        switch (code) {
            case kVersionRequest:
            case kScanRequest:
                return AnswerLookup(code, record, size, kWinUsbDriverVersion, driver_);
            case kOpenRequest:
                PutField(record, 16, held_.Take(driver_.devices(), driver_.OpenById(GetField(record, 0))));
                return true;
            case kTransferRequest:
                Transfer(record, buffer);
                return true;
            default:
                return false;
        }
    }

    Error LastTransferError(std::string* detail) const override {
        *detail = transferDetail_;
        return transferError_;
    }

private:
    void Transfer(uint8_t* record, uint8_t* buffer) {
        auto device = driver_.devices().Find(GetField(record, kTransferDevice));
        uint32_t moved = 0;
        WinUsbStatus status{Error::Gone, "the device is no longer open"};
        if (device) {
            std::lock_guard lock(device->mutex);
            status = Move(*device, record, buffer, &moved);
            if (!status.Ok()) {
                status.detail = device->instance + ": " + status.detail;
            }
        }
        PutField(record, kTransferMoved, moved);
        PutField(record, kTransferSuccess, status.Ok() ? 1 : 0);
        transferError_ = status.error;
        transferDetail_ = status.detail;
    }

    // The record's time-out becomes the pipe's policy before the transfer: a pipe
    // without one would wait for ever.
    static WinUsbStatus Move(OpenDevice& device, const uint8_t* record, uint8_t* buffer, uint32_t* moved) {
        auto pipe = static_cast<uint8_t>(GetField(record, kTransferPipe));
        uint32_t timeout = GetField(record, kTransferTimeout);
        uint32_t length = GetField(record, kTransferLength);
        auto known = device.pipeTimeouts.find(pipe);
        if (known == device.pipeTimeouts.end() || known->second != timeout) {
            device.pipeTimeouts.erase(pipe);
            WinUsbStatus set = device.usb->SetPipeTimeout(pipe, timeout);
            if (!set.Ok()) {
                set.detail = "cannot set the time-out of pipe " + PipeName(pipe) + ": " + set.detail;
                return set;
            }
            device.pipeTimeouts[pipe] = timeout;
        }
        if (GetField(record, kTransferDirection) == 1) {
            return device.usb->ReadPipe(pipe, buffer, length, moved);
        }
        return device.usb->WritePipe(pipe, buffer, length, moved);
    }

    static std::string PipeName(uint8_t pipe) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", pipe);
        return text;
    }

    WinUsbDriver& driver_;
    HeldDevice<OpenDevice> held_;
    Error transferError_ = Error::Ok;
    std::string transferDetail_;
};

std::unique_ptr<DriverHandle> WinUsbDriver::Open(std::string*) { return std::make_unique<WinUsbHandle>(*this); }

}  // namespace

std::unique_ptr<Driver> MakeWinUsbDriver(std::shared_ptr<WinUsbApi> api) {
    return std::make_unique<WinUsbDriver>(std::move(api));
}

}  // namespace bootwire::usb
