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

}  // namespace bootwire::usb
