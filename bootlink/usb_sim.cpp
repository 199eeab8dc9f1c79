// Driver layer for the virtual board: its USB boot device is a stream (Unix socket
// or TCP, see sim_stream.h) carrying the bulk OUT bytes one way and the bulk IN
// bytes the other. BOOTWIRE_USB_SIM names one socket, a folder whose sockets are
// one device each (several virtual boards), or one board on TCP. A device is
// located as "sim:NAME", NAME being its socket's file name without a ".sock"
// ending, or HOST:PORT.
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <vector>

#include "sim_stream.h"
#include "tcp_stream.h"
#include "usb_driver.h"
#include "usb_registry.h"

namespace bootwire::usb {
namespace {

constexpr std::chrono::milliseconds kConnectLimit{5000};

// The board's USB over TCP. A USB transfer has one time-out for the whole of it.
class TcpSimStream final : public SimStream {
public:
    explicit TcpSimStream(std::unique_ptr<TcpStream> stream) : stream_(std::move(stream)) {}

    Error Write(const uint8_t* data, size_t n, SimClock::time_point deadline, std::string* detail) override {
        auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SimClock::now()) +
                    std::chrono::milliseconds(1);
        return stream_->Write(data, n, deadline, idle, nullptr, detail);
    }

    Error Read(uint8_t* data, size_t n, SimClock::time_point deadline, size_t* received, std::string* detail) override {
        size_t done = 0;
        Error e = Error::Ok;
        while (done < n && e == Error::Ok) {
            size_t got = 0;
            e = stream_->ReadAvailable(data + done, n - done, deadline, &got, detail);
            done += got;
        }
        if (e == Error::Timeout) {
            *detail = "the virtual board did not answer in time (" + std::to_string(done) + " of " + std::to_string(n) +
                      " bytes)";
        }
        *received = done;
        return e;
    }

private:
    std::unique_ptr<TcpStream> stream_;
};

}  // namespace

std::unique_ptr<SimStream> SimConnect(const SimAddress& address, Error* error, std::string* detail) {
    if (!address.tcp) {
        return SimConnectSocket(address.path, error, detail);
    }
    auto stream = TcpStream::Connect(address.host, address.port, kConnectLimit, error, detail);
    return stream ? std::make_unique<TcpSimStream>(std::move(stream)) : nullptr;
}

bool ParseSimAddress(const std::string& text, SimAddress* address, std::string* why) {
    *address = SimAddress{};
    const std::string prefix = "tcp:";
    if (text.compare(0, prefix.size(), prefix) != 0) {
        address->path = text;
        return true;
    }
    std::string rest = text.substr(prefix.size());
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
        *why = "\"" + text + "\" is not an address of the form tcp:HOST:PORT";
        return false;
    }
    std::string host = rest.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    std::string port = rest.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5 || std::stoul(port) == 0 ||
        std::stoul(port) > 65535) {
        *why = "\"" + text + "\" has no valid port number (1 to 65535)";
        return false;
    }
    address->tcp = true;
    address->host = host;
    address->port = port;
    return true;
}

namespace {

constexpr uint32_t kSimDriverVersion = 1000;

class SimDriver;

class SimHandle final : public DriverHandle {
public:
    explicit SimHandle(SimDriver& driver) : driver_(driver) {}
    bool Request(uint32_t code, uint8_t* record, size_t size, uint8_t* buffer) override;
    Error LastTransferError(std::string* detail) const override {
        *detail = transferDetail_;
        return transferError_;
    }

private:
    SimDriver& driver_;
    HeldDevice<SimStream> held_;
    Error transferError_ = Error::Ok;
    std::string transferDetail_;
};

class SimDriver final : public Driver {
public:
    explicit SimDriver(std::string text) : text_(std::move(text)) {
        valid_ = ParseSimAddress(text_, &address_, &invalidWhy_);
    }

    std::unique_ptr<DriverHandle> Open(std::string* why) override {
        if (!valid_) {
            *why = "BOOTWIRE_USB_SIM: " + invalidWhy_;
            return nullptr;
        }
        return std::make_unique<SimHandle>(*this);
    }
    Error LastOpenError() const override { return lastError_; }
    std::string LastOpenDetail() const override { return lastDetail_; }

    bool Locate(uint32_t uniqueId, DeviceLocation* where) override {
        std::string path = Scanned(uniqueId);
        if (path.empty()) {
            return false;
        }
        std::string name = address_.tcp ? path : std::filesystem::path(path).filename().string();
        const std::string ending = ".sock";
        if (!address_.tcp && name.size() > ending.size() &&
            name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
            name.resize(name.size() - ending.size());
        }
        where->location = "sim:" + name;
        where->product = "virtual board";
        return true;
    }

    // The boards present now, sorted; device i of the scan is board i - 1. A board
    // on TCP cannot be looked at without connecting: the connection is kept for the
    // open that follows a scan rather than knocking twice.
    size_t Scan() {
        std::vector<std::string> found;
        std::unique_ptr<SimStream> pending;
        if (address_.tcp) {
            pending = SimConnect(address_, &lastError_, &lastDetail_);
            if (pending) {
                found.push_back(address_.host.find(':') != std::string::npos
                                    ? "[" + address_.host + "]:" + address_.port
                                    : address_.host + ":" + address_.port);
            }
        } else if (std::error_code error; std::filesystem::is_directory(address_.path, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(address_.path, error)) {
                SimAddress socket;
                socket.path = entry.path().string();
                if (SimSocketPresent(socket)) {
                    found.push_back(socket.path);
                }
            }
            std::sort(found.begin(), found.end());
        } else if (SimSocketPresent(address_)) {
            found.push_back(address_.path);
        }
        std::lock_guard lock(mutex_);
        scanned_ = std::move(found);
        pending_ = std::move(pending);
        return scanned_.size();
    }

    uint32_t Connect(uint32_t uniqueId) {
        std::string path = Scanned(uniqueId);
        if (path.empty()) {
            lastError_ = Error::NotFound;
            lastDetail_ = "no virtual board's USB device has id " + std::to_string(uniqueId);
            return 0;
        }
        std::unique_ptr<SimStream> stream;
        if (address_.tcp) {
            {
                std::lock_guard lock(mutex_);
                stream = std::move(pending_);
            }
            if (!stream) {
                stream = SimConnect(address_, &lastError_, &lastDetail_);
            }
        } else {
            stream = SimConnectSocket(path, &lastError_, &lastDetail_);
        }
        if (!stream) {
            lastDetail_ =
                "cannot reach the virtual board's USB device at " + (address_.tcp ? text_ : path) + ": " + lastDetail_;
            return 0;
        }
        return devices_.Add(std::shared_ptr<SimStream>(std::move(stream)));
    }

    DeviceRegistry<SimStream>& devices() { return devices_; }

private:
    std::string Scanned(uint32_t uniqueId) {
        std::lock_guard lock(mutex_);
        return uniqueId >= 1 && uniqueId <= scanned_.size() ? scanned_[uniqueId - 1] : std::string();
    }

    std::string text_;
    SimAddress address_;
    bool valid_ = false;
    std::string invalidWhy_;
    std::mutex mutex_;
    std::vector<std::string> scanned_;    // under mutex_
    std::unique_ptr<SimStream> pending_;  // under mutex_
    DeviceRegistry<SimStream> devices_;
    Error lastError_ = Error::Driver;
    std::string lastDetail_;
};

bool SimHandle::Request(uint32_t code, uint8_t* record, size_t size, uint8_t* buffer) {
    switch (code) {
        case kVersionRequest:
            PutField(record, 0, kSimDriverVersion);
            return true;
        case kScanRequest: {
            if (size < kScanRecordSize || GetField(record, 0) != kVendorId || GetField(record, 4) != kProductId) {
                PutField(record, 8, 0);
                return true;
            }
            size_t count = std::min(driver_.Scan(), kMaxScanDevices);
            PutField(record, 8, static_cast<uint32_t>(count));
            for (size_t i = 0; i < count; ++i) {
                PutField(record, ScanIdOffset(i), static_cast<uint32_t>(i + 1));
                PutField(record, ScanMarkerOffset(i), kInterfaceMarker);
            }
            return true;
        }
        case kOpenRequest:
            PutField(record, 16, held_.Take(driver_.devices(), driver_.Connect(GetField(record, 0))));
            return true;
        case kTransferRequest: {
            auto stream = driver_.devices().Find(GetField(record, kTransferDevice));
            uint32_t length = GetField(record, kTransferLength);
            auto deadline = SimClock::now() + std::chrono::milliseconds(GetField(record, kTransferTimeout));
            std::string detail = "no such device";
            size_t moved = 0;
            Error e = Error::Gone;
            if (stream && GetField(record, kTransferDirection) == 1) {
                e = stream->Read(buffer, length, deadline, &moved, &detail);
            } else if (stream) {
                e = stream->Write(buffer, length, deadline, &detail);
                moved = e == Error::Ok ? length : 0;
            }
            PutField(record, kTransferMoved, static_cast<uint32_t>(moved));
            PutField(record, kTransferSuccess, e == Error::Ok ? 1 : 0);
            transferError_ = e;
            transferDetail_ = e == Error::Ok ? std::string() : detail;
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

std::unique_ptr<Driver> MakeSimDriver(std::string address) { return std::make_unique<SimDriver>(std::move(address)); }

}  // namespace bootwire::usb
