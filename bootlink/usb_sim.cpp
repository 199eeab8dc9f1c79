// Driver layer for the virtual board: its USB boot device is a Unix stream socket
// carrying the bulk OUT bytes one way and the bulk IN bytes the other.
// BOOTWIRE_USB_SIM names one socket, or a folder whose sockets are one device each
// (several virtual boards); a device is located as "sim:NAME", NAME being its
// socket's file name without a ".sock" ending.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "common/unique_fd.h"
#include "io_posix.h"
#include "usb_driver.h"
#include "usb_registry.h"

namespace bootwire::usb {
namespace {

using sealbench::UniqueFd;

constexpr uint32_t kSimDriverVersion = 1000;

class SimDriver;

class SimHandle final : public DriverHandle {
public:
    explicit SimHandle(SimDriver& driver) : driver_(driver) {}
    ~SimHandle() override;
    bool Request(uint32_t code, uint8_t* record, size_t size, uint8_t* buffer) override;
    Error LastTransferError(std::string* detail) const override {
        *detail = transferDetail_;
        return transferError_;
    }

private:
    SimDriver& driver_;
    uint32_t opened_ = 0;
    Error transferError_ = Error::Ok;
    std::string transferDetail_;
};

class SimDriver final : public Driver {
public:
    explicit SimDriver(std::string path) : path_(std::move(path)) {}

    std::unique_ptr<DriverHandle> Open(std::string*) override { return std::make_unique<SimHandle>(*this); }
    Error LastOpenError() const override { return lastError_; }
    std::string LastOpenDetail() const override { return lastDetail_; }

    bool Locate(uint32_t uniqueId, DeviceLocation* where) override {
        std::string path = Scanned(uniqueId);
        if (path.empty()) {
            return false;
        }
        std::string name = std::filesystem::path(path).filename().string();
        const std::string ending = ".sock";
        if (name.size() > ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
            name.resize(name.size() - ending.size());
        }
        where->location = "sim:" + name;
        where->product = "virtual board";
        return true;
    }

    // The sockets present now, sorted; device i of the scan is socket i - 1.
    size_t Scan() {
        std::vector<std::string> found;
        std::error_code error;
        if (std::filesystem::is_directory(path_, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(path_, error)) {
                if (IsSocket(entry.path().string())) {
                    found.push_back(entry.path().string());
                }
            }
            std::sort(found.begin(), found.end());
        } else if (IsSocket(path_)) {
            found.push_back(path_);
        }
        std::lock_guard lock(mutex_);
        scanned_ = std::move(found);
        return scanned_.size();
    }

    uint32_t Connect(uint32_t uniqueId) {
        std::string path = Scanned(uniqueId);
        if (path.empty()) {
            lastError_ = Error::NotFound;
            lastDetail_ = "no virtual board's USB socket has id " + std::to_string(uniqueId);
            return 0;
        }
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (!fd.Valid() || path.size() >= sizeof addr.sun_path) {
            lastError_ = Error::Io;
            lastDetail_ = "cannot reach the virtual board's USB socket " + path;
            return 0;
        }
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            int err = errno;
            lastError_ = posix::ErrorFromErrno(err);
            lastDetail_ = "cannot connect to the virtual board's USB socket " + path + ": " + std::strerror(err);
            return 0;
        }
        ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) | O_NONBLOCK);
        return devices_.Add(std::make_shared<UniqueFd>(std::move(fd)));
    }

    DeviceRegistry<UniqueFd>& devices() { return devices_; }

private:
    static bool IsSocket(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    }

    std::string Scanned(uint32_t uniqueId) {
        std::lock_guard lock(mutex_);
        return uniqueId >= 1 && uniqueId <= scanned_.size() ? scanned_[uniqueId - 1] : std::string();
    }

    std::string path_;
    std::mutex mutex_;
    std::vector<std::string> scanned_;  // under mutex_
    DeviceRegistry<UniqueFd> devices_;
    Error lastError_ = Error::Driver;
    std::string lastDetail_;
};

SimHandle::~SimHandle() {
    if (opened_) {
        driver_.devices().Remove(opened_);
    }
}

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
        case kOpenRequest: {
            uint32_t device = driver_.Connect(GetField(record, 0));
            if (device) {
                if (opened_) {
                    driver_.devices().Remove(opened_);
                }
                opened_ = device;
            }
            PutField(record, 16, device);
            return true;
        }
        case kTransferRequest: {
            auto fd = driver_.devices().Find(GetField(record, kTransferDevice));
            uint32_t length = GetField(record, kTransferLength);
            auto timeout = std::chrono::milliseconds(GetField(record, kTransferTimeout));
            auto deadline = posix::Clock::now() + timeout;
            std::string detail;
            size_t moved = 0;
            Error e = Error::Io;
            if (fd && GetField(record, kTransferDirection) == 1) {
                e = posix::ReadSome(fd->Get(), buffer, length, deadline, timeout, &moved, &detail);
            } else if (fd) {
                e = posix::WriteAll(fd->Get(), buffer, length, deadline, timeout, nullptr, &detail, true);
                moved = e == Error::Ok ? length : 0;
            }
            PutField(record, kTransferMoved, static_cast<uint32_t>(moved));
            PutField(record, kTransferSuccess, e == Error::Ok ? 1 : 0);
            transferError_ = fd ? e : Error::Gone;
            transferDetail_ = fd ? detail : "no such device";
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

std::unique_ptr<Driver> MakeSimDriver(std::string socketPath) {
    return std::make_unique<SimDriver>(std::move(socketPath));
}

}  // namespace bootwire::usb
