// Devices opened through a driver layer, by the 32-bit handle the open request
// returned. A device stays open while the driver handle that opened it lives.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace bootwire::usb {

template <typename Device>
class DeviceRegistry {
public:
    uint32_t Add(std::shared_ptr<Device> device) {
        std::lock_guard lock(mutex_);
        uint32_t id = ++lastId_;
        devices_[id] = std::move(device);
        return id;
    }
    std::shared_ptr<Device> Find(uint32_t id) {
        std::lock_guard lock(mutex_);
        auto it = devices_.find(id);
        return it == devices_.end() ? nullptr : it->second;
    }
    void Remove(uint32_t id) {
        std::lock_guard lock(mutex_);
        devices_.erase(id);
    }

private:
    std::mutex mutex_;
    std::map<uint32_t, std::shared_ptr<Device>> devices_;
    uint32_t lastId_ = 0;
};

// The device a driver handle has opened: a handle holds one at a time, and lets it
// go when it opens another or goes itself.
template <typename Device>
class HeldDevice {
public:
    HeldDevice() = default;
    ~HeldDevice() { Release(); }
    HeldDevice(const HeldDevice&) = delete;
    HeldDevice& operator=(const HeldDevice&) = delete;

    // The answer to an open request: `id` (0 when nothing opened) replaces the device
    // held; returns it for the request's record.
    uint32_t Take(DeviceRegistry<Device>& registry, uint32_t id) {
        if (id != 0) {
            Release();
            registry_ = &registry;
            id_ = id;
        }
        return id;
    }

private:
    void Release() {
        if (registry_ && id_) registry_->Remove(id_);
        id_ = 0;
    }

    DeviceRegistry<Device>* registry_ = nullptr;
    uint32_t id_ = 0;
};

}  // namespace bootwire::usb
