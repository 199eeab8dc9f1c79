#include "station/usb_boards.h"

#include <algorithm>
#include <cstdlib>

namespace sealbench {

UsbBoards::UsbBoards(std::chrono::milliseconds period, std::chrono::milliseconds safety) : period_(period) {
    // Virtual boards come and go as socket files, which only a look sees.
    const char* simulated = std::getenv("BOOTWIRE_USB_SIM");
    if (!simulated || !*simulated) hotplug_ = UsbHotplug::Start([this] { Changed(); });
    if (hotplug_) period_ = std::max(period, safety);
}

UsbBoards::~UsbBoards() { hotplug_.reset(); }

void UsbBoards::Changed() {
    {
        std::lock_guard lock(mutex_);
        lookedAt_.reset();
        ++generation_;
    }
    changed_.notify_all();
}

std::optional<bootwire::PortInfo> UsbBoards::Find(const std::string& location) {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    // Half a period, so that slots waking a little apart still share one look.
    if (!lookedAt_ || now - *lookedAt_ >= period_ / 2) {
        std::vector<bootwire::PortInfo> ports = bootwire::ListPorts();
        ports.erase(
            std::remove_if(ports.begin(), ports.end(),
                           [](const bootwire::PortInfo& p) { return p.kind != bootwire::PortInfo::Kind::UsbBoot; }),
            ports.end());
        devices_ = std::move(ports);
        lookedAt_ = now;
    }
    auto found =
        std::find_if(devices_.begin(), devices_.end(), [&](const bootwire::PortInfo& p) { return p.name == location; });
    return found == devices_.end() ? std::nullopt : std::optional(*found);
}

void UsbBoards::WaitForChange(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    const uint64_t seen = generation_;
    changed_.wait_for(lock, stop, period_, [&] { return generation_ != seen; });
}

}  // namespace sealbench
