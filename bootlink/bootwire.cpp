// The process-wide links and the classic BootwireClass facade over them.
#include <bootwire/bootwire.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "process_links.h"
#include "usb_driver.h"

namespace bootwire {

const char* ErrorName(Error error) {
    switch (error) {
        case Error::Ok:
            return "ok";
        case Error::NotOpen:
            return "not open";
        case Error::NotFound:
            return "not found";
        case Error::Permission:
            return "permission denied";
        case Error::Busy:
            return "busy";
        case Error::Settings:
            return "line settings refused";
        case Error::Io:
            return "input/output error";
        case Error::Timeout:
            return "timed out";
        case Error::NoAnswer:
            return "no answer";
        case Error::UnexpectedWord:
            return "unexpected answer";
        case Error::Driver:
            return "USB driver error";
        case Error::Gone:
            return "device gone";
        case Error::Unsupported:
            return "not supported by this link";
        case Error::Stopped:
            return "stopped";
        case Error::Rejected:
            return "rejected by the target";
    }
    return "unknown error";
}

Transport::~Transport() = default;

Error Transport::SetLineSpeed(int baud) {
    return Fail(Error::Unsupported, Describe() + " has no line speed to set to " + std::to_string(baud));
}

Error Transport::Fail(Error error, std::string detail) {
    lastDetail_ = std::move(detail);
    return error;
}

namespace {

struct ProcessLinks {
    std::mutex mutex;
    std::shared_ptr<Link> serial = std::make_shared<Link>();
    std::shared_ptr<Link> usb = std::make_shared<Link>();
};

ProcessLinks& Links() {
    static ProcessLinks links;
    return links;
}

std::shared_ptr<Link> Swap(std::shared_ptr<Link> ProcessLinks::*which, std::shared_ptr<Link> link) {
    ProcessLinks& links = Links();
    std::lock_guard lock(links.mutex);
    std::swap(links.*which, link);
    return link;
}

std::shared_ptr<Link> Current(std::shared_ptr<Link> ProcessLinks::*which) {
    ProcessLinks& links = Links();
    std::lock_guard lock(links.mutex);
    return links.*which;
}

}  // namespace

std::shared_ptr<Link> ProcessSerialLink() { return Current(&ProcessLinks::serial); }
std::shared_ptr<Link> ProcessUsbLink() { return Current(&ProcessLinks::usb); }

std::shared_ptr<Link> ReplaceProcessSerialLink(std::shared_ptr<Link> link) {
    return Swap(&ProcessLinks::serial, std::move(link));
}

std::shared_ptr<Link> ReplaceProcessUsbLink(std::shared_ptr<Link> link) {
    return Swap(&ProcessLinks::usb, std::move(link));
}

void CloseProcessLinks() {
    ReplaceProcessSerialLink(std::make_shared<Link>());
    ReplaceProcessUsbLink(std::make_shared<Link>());
}

namespace usb {

std::shared_ptr<Driver> SystemDriver() {
    static std::mutex mutex;
    static std::shared_ptr<Driver> platform;
    static std::map<std::string, std::shared_ptr<Driver>> simulated;
    std::lock_guard lock(mutex);
    const char* socket = std::getenv("BOOTWIRE_USB_SIM");
    if (socket && *socket) {
        auto& driver = simulated[socket];
        if (!driver) {
            driver = MakeSimDriver(socket);
        }
        return driver;
    }
    if (!platform) {
        platform = MakePlatformDriver();
    }
    return platform;
}

}  // namespace usb

std::unique_ptr<Transport> OpenUsb(Error* error, std::string* detail) {
    return usb::Enumerate(usb::SystemDriver(), error, detail);
}

}  // namespace bootwire

namespace {

using bootwire::Error;
using bootwire::Link;

// The link of a channel selector; nullptr for selectors other than 0 and 1 and
// for USB device numbers other than 1. The caller holds it for the whole call.
std::shared_ptr<Link> LinkOf(int channel, int device) {
    switch (channel) {
        case 0:
            return bootwire::ProcessSerialLink();
        case 1:
            return device == 1 ? bootwire::ProcessUsbLink() : nullptr;
        default:
            return nullptr;
    }
}

const uint8_t* Bytes(const long* data) { return reinterpret_cast<const uint8_t*>(data); }

int FileDownload(bootwire::FileType type, int channel, unsigned long address, int size, long* data, int device) {
    auto link = LinkOf(channel, device);
    // A size with no data to go with it is the caller's mistake, not a download.
    if (!link || (size > 0 && !data)) {
        return 0;
    }
    size_t n = size > 0 ? static_cast<size_t>(size) : 0;
    return link->FileDownload(type, static_cast<uint32_t>(address), Bytes(data), n) == Error::Ok;
}

}  // namespace

BootwireClass::BootwireClass() = default;
BootwireClass::~BootwireClass() = default;

int BootwireClass::Vireo_InitComPort(char* portNumber, int lineMode) {
    // The port opened before is let go first: it is exclusive, and may be the one
    // chosen again. A call still running on it keeps it until that call ends.
    bootwire::ReplaceProcessSerialLink(std::make_shared<Link>());
    if (!portNumber) {
        return 0;
    }
    Error error;
    std::string detail;
    auto transport = bootwire::OpenSerial(portNumber, lineMode, &error, &detail);
    bootwire::ReplaceProcessSerialLink(std::make_shared<Link>(std::move(transport)));
    return error == Error::Ok ? 1 : 0;
}

int BootwireClass::Vireo_USBEnum() {
    // Release the device before it is claimed again.
    bootwire::ReplaceProcessUsbLink(std::make_shared<Link>());
    Error error;
    std::string detail;
    auto transport = bootwire::OpenUsb(&error, &detail);
    const bool found = transport != nullptr;
    bootwire::ReplaceProcessUsbLink(std::make_shared<Link>(std::move(transport)));
    return found ? 1 : 0;
}

int BootwireClass::Vireo_USBChangeIdEnum(int) { return 0; }

int BootwireClass::Vireo_WriteRegister(int channelAndCode, long address, long value, long format, int device) {
    auto link = LinkOf(channelAndCode & 0xFF, device);
    if (!link) {
        return 0;
    }
    int code = (channelAndCode >> 8) & 0xFF;
    return link->WriteRegister(static_cast<uint32_t>(address), static_cast<uint32_t>(value),
                               static_cast<uint8_t>(format), code) == Error::Ok;
}

int BootwireClass::Vireo_ReadData(int channel, unsigned long address, long* dest, int count, long format, int device) {
    auto link = LinkOf(channel, device);
    if (!link || count < 0 || (count > 0 && !dest)) {
        return 0;
    }
    // The classic result discards the first word: only the data decide.
    const Error e = link->ReadData(static_cast<uint32_t>(address), reinterpret_cast<uint8_t*>(dest),
                                   static_cast<size_t>(count), static_cast<uint8_t>(format));
    return e == Error::Ok || e == Error::UnexpectedWord;
}

int BootwireClass::Vireo_SekurelStatus(int channel, int device) {
    auto link = LinkOf(channel, device);
    uint32_t word = 0;
    if (!link || link->GetStatus(&word) != Error::Ok) {
        return 0;
    }
    return static_cast<int>(word);
}

int BootwireClass::Vireo_CompleteEndResponse(int channel, int device) {
    auto link = LinkOf(channel, device);
    return link && link->CompleteEndResponse() == Error::Ok;
}

long BootwireClass::Vireo_FlashingStatus(int channel, int device) {
    auto link = LinkOf(channel, device);
    uint32_t word = 0;
    if (!link || link->FlashingStatus(&word) != Error::Ok) {
        return 0;
    }
    // A 32-bit word, as callers on every platform read it.
    return static_cast<long>(static_cast<int32_t>(word));
}

int BootwireClass::Vireo_HWCDownload(int channel, unsigned long address, int size, long* data, int device) {
    return FileDownload(bootwire::FileType::Hwc, channel, address, size, data, device);
}

int BootwireClass::Vireo_CSFDownload(int channel, unsigned long address, int size, long* data, int device) {
    return FileDownload(bootwire::FileType::Csf, channel, address, size, data, device);
}

int BootwireClass::Vireo_ImageDownload(int channel, unsigned long address, int size, long* data, int device) {
    auto link = LinkOf(channel, device);
    if (!link || size < 0 || !data) {
        return 0;
    }
    // The application header repeats the image's first 1024 bytes; the link pads a
    // shorter image with zeros rather than read past the end of the caller's buffer.
    size_t n = static_cast<size_t>(size);
    return link->ImageDownload(static_cast<uint32_t>(address), Bytes(data), n, n) == Error::Ok;
}
