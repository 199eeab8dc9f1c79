// Driver layer for real boot devices, on libusb-1.0: the requests the transport
// builds are carried out as libusb device lookups, claims and bulk transfers.
#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "usb_driver.h"
#include "usb_registry.h"

namespace bootwire::usb {
namespace {

constexpr uint32_t kLibusbDriverVersion = 1000;

struct UsbDevice {
    libusb_device_handle* handle = nullptr;
    int interface = -1;
    ~UsbDevice() {
        if (handle) {
            libusb_release_interface(handle, interface);
            libusb_close(handle);
        }
    }
};

// Unique ids are the device's bus and address, never 0.
uint32_t UniqueIdOf(libusb_device* device) {
    return 0x10000u | (static_cast<uint32_t>(libusb_get_bus_number(device)) << 8) | libusb_get_device_address(device);
}

// The interface with bulk endpoints 0x01 OUT and 0x82 IN, or -1.
int BootInterface(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 &&
        libusb_get_config_descriptor(device, 0, &config) != 0) {
        return -1;
    }
    int found = -1;
    for (int i = 0; i < config->bNumInterfaces && found < 0; ++i) {
        for (int a = 0; a < config->interface[i].num_altsetting && found < 0; ++a) {
            const libusb_interface_descriptor& alt = config->interface[i].altsetting[a];
            bool out = false, in = false;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                bool bulk = (ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK;
                out |= bulk && ep.bEndpointAddress == kPipeOut;
                in |= bulk && ep.bEndpointAddress == kPipeIn;
            }
            if (out && in) {
                found = alt.bInterfaceNumber;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

// A device ends a bulk IN transfer with a short packet whenever it has nothing
// more to send at that moment (between the answer word and the data of a read,
// between the pieces it sends of a long read); the caller wants all n bytes, as a
// serial read gives them, so the rest is asked for until the time-out.
int BulkTransfer(libusb_device_handle* handle, unsigned char endpoint, uint8_t* buffer, int length, unsigned timeoutMs,
                 int* transferred) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    *transferred = 0;
    unsigned wait = timeoutMs;
    for (;;) {
        int got = 0;
        int r = libusb_bulk_transfer(handle, endpoint, buffer + *transferred, length - *transferred, &got, wait);
        *transferred += got;
        if (r != 0 || !(endpoint & LIBUSB_ENDPOINT_IN) || *transferred >= length) {
            return r;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return LIBUSB_ERROR_TIMEOUT;  // and never 0, which libusb takes for no time-out at all
        }
        wait = static_cast<unsigned>(left);
    }
}

class LibusbDriver final : public Driver {
public:
    LibusbDriver() { initError_ = libusb_init(&context_); }
    ~LibusbDriver() override {
        if (context_) {
            libusb_exit(context_);
        }
    }

    std::unique_ptr<DriverHandle> Open(std::string* why) override;
    bool Locate(uint32_t uniqueId, DeviceLocation* where) override;
    Error LastOpenError() const override { return lastError_; }
    std::string LastOpenDetail() const override { return lastDetail_; }

    void Scan(uint8_t* record) {
        libusb_device** list = nullptr;
        ssize_t n = libusb_get_device_list(context_, &list);
        uint32_t count = 0;
        for (ssize_t i = 0; i < n && count < kMaxScanDevices; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(list[i], &desc) != 0 || desc.idVendor != GetField(record, 0) ||
                desc.idProduct != GetField(record, 4)) {
                continue;
            }
            PutField(record, ScanIdOffset(count), UniqueIdOf(list[i]));
            PutField(record, ScanMarkerOffset(count), BootInterface(list[i]) >= 0 ? kInterfaceMarker : 0);
            ++count;
        }
        PutField(record, 8, count);
        if (list) {
            libusb_free_device_list(list, 1);
        }
    }

    uint32_t OpenDevice(uint32_t uniqueId) {
        libusb_device** list = nullptr;
        ssize_t n = libusb_get_device_list(context_, &list);
        uint32_t handleId = 0;
        lastError_ = Error::NotFound;
        lastDetail_ = "the USB boot device went away";
        for (ssize_t i = 0; i < n; ++i) {
            if (UniqueIdOf(list[i]) != uniqueId) {
                continue;
            }
            auto device = std::make_shared<UsbDevice>();
            device->interface = BootInterface(list[i]);
            int r = libusb_open(list[i], &device->handle);
            if (r == 0) {
                libusb_set_auto_detach_kernel_driver(device->handle, 1);
                r = libusb_claim_interface(device->handle, device->interface);
                if (r != 0) {
                    libusb_close(device->handle);
                    device->handle = nullptr;
                }
            }
            if (r == 0) {
                handleId = devices_.Add(std::move(device));
            } else {
                device->handle = nullptr;
                lastError_ = r == LIBUSB_ERROR_ACCESS ? Error::Permission
                             : r == LIBUSB_ERROR_BUSY ? Error::Busy
                                                      : Error::Driver;
                char text[160];
                std::snprintf(text, sizeof text, "USB device on bus %03u address %03u: %s",
                              libusb_get_bus_number(list[i]), libusb_get_device_address(list[i]),
                              libusb_strerror(static_cast<libusb_error>(r)));
                lastDetail_ = text;
            }
            break;
        }
        if (list) {
            libusb_free_device_list(list, 1);
        }
        return handleId;
    }

    // Returns libusb's code of the transfer (0 on success).
    int Transfer(uint8_t* record, uint8_t* buffer) {
        auto device = devices_.Find(GetField(record, kTransferDevice));
        int transferred = 0;
        int r = LIBUSB_ERROR_NO_DEVICE;
        if (device && device->handle) {
            r = BulkTransfer(device->handle, static_cast<unsigned char>(GetField(record, kTransferPipe)), buffer,
                             static_cast<int>(GetField(record, kTransferLength)), GetField(record, kTransferTimeout),
                             &transferred);
        }
        PutField(record, kTransferMoved, static_cast<uint32_t>(transferred));
        PutField(record, kTransferSuccess, r == 0 ? 1 : 0);
        return r;
    }

    DeviceRegistry<UsbDevice>& devices() { return devices_; }

private:
    libusb_context* context_ = nullptr;
    int initError_ = 0;
    DeviceRegistry<UsbDevice> devices_;
    Error lastError_ = Error::Driver;
    std::string lastDetail_;
};

class LibusbHandle final : public DriverHandle {
public:
    explicit LibusbHandle(LibusbDriver& driver) : driver_(driver) {}

    bool Request(uint32_t code, uint8_t* record, size_t size, uint8_t* buffer) override {
        switch (code) {
            case kVersionRequest:
            case kScanRequest:
                return AnswerLookup(code, record, size, kLibusbDriverVersion, driver_);
            case kOpenRequest:
                PutField(record, 16, held_.Take(driver_.devices(), driver_.OpenDevice(GetField(record, 0))));
                return true;
            case kTransferRequest:
                transferResult_ = driver_.Transfer(record, buffer);
                return true;
            default:
                return false;
        }
    }

    Error LastTransferError(std::string* detail) const override {
        *detail = libusb_strerror(static_cast<libusb_error>(transferResult_));
        switch (transferResult_) {
            case LIBUSB_ERROR_TIMEOUT:
                return Error::Timeout;
            case LIBUSB_ERROR_NO_DEVICE:
            case LIBUSB_ERROR_NOT_FOUND:
                return Error::Gone;
            default:
                return Error::Io;
        }
    }

private:
    LibusbDriver& driver_;
    HeldDevice<UsbDevice> held_;
    int transferResult_ = 0;
};

// A string descriptor, read on a handle of its own (opening does not claim the
// device, so a device another run is using can still be asked); empty when the
// device has none or may not be opened by this user.
std::string StringDescriptor(libusb_device_handle* handle, uint8_t index) {
    unsigned char text[128] = {};
    if (!handle || index == 0 ||
        libusb_get_string_descriptor_ascii(handle, index, text, static_cast<int>(sizeof text) - 1) < 0) {
        return {};
    }
    return reinterpret_cast<const char*>(text);
}

bool LibusbDriver::Locate(uint32_t uniqueId, DeviceLocation* where) {
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(context_, &list);
    bool found = false;
    for (ssize_t i = 0; i < n && !found; ++i) {
        if (UniqueIdOf(list[i]) != uniqueId) {
            continue;
        }
        found = true;
        // The bus, then the hub ports from the root: "1-4.2", as the kernel names it.
        uint8_t ports[8] = {};
        int depth = libusb_get_port_numbers(list[i], ports, sizeof ports);
        std::string location = std::to_string(libusb_get_bus_number(list[i]));
        for (int p = 0; p < depth; ++p) {
            location += (p == 0 ? "-" : ".") + std::to_string(ports[p]);
        }
        where->location = location;
        libusb_device_descriptor desc{};
        libusb_device_handle* handle = nullptr;
        if (libusb_get_device_descriptor(list[i], &desc) == 0 && libusb_open(list[i], &handle) == 0) {
            where->serial = StringDescriptor(handle, desc.iSerialNumber);
            where->product = StringDescriptor(handle, desc.iProduct);
            libusb_close(handle);
        }
    }
    if (list) {
        libusb_free_device_list(list, 1);
    }
    return found;
}

std::unique_ptr<DriverHandle> LibusbDriver::Open(std::string* why) {
    if (initError_ != 0 || !context_) {
        *why = std::string("libusb: ") + libusb_strerror(static_cast<libusb_error>(initError_));
        return nullptr;
    }
    return std::make_unique<LibusbHandle>(*this);
}

}  // namespace

std::unique_ptr<Driver> MakeLibusbDriver() { return std::make_unique<LibusbDriver>(); }

std::unique_ptr<Driver> MakePlatformDriver() { return MakeLibusbDriver(); }

}  // namespace bootwire::usb
