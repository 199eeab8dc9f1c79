// The USB boot devices present now, as Bootwire lists them (ListPorts: the
// platform's buses, or the virtual boards' sockets in the BOOTWIRE_USB_SIM
// folder), shared by every USB slot of a station: one look serves all slots for a
// while, so eight slots cost one listing. Where libusb can tell of devices coming
// and going (hot-plug), a change is looked at at once and the regular look is only
// a safety net; elsewhere the regular look is the way.
#pragma once

#include <bootwire/bootwire.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace sealbench {

// Tells of boot devices arriving or leaving through a callback on a thread of its
// own (usb_hotplug_libusb.cpp); Start gives nullptr where the platform cannot.
class UsbHotplug {
public:
    virtual ~UsbHotplug() = default;
    static std::unique_ptr<UsbHotplug> Start(std::function<void()> changed);
};

class UsbBoards {
public:
    // `period`: how old a look may be before a slot asks for a new one (hot-plug
    // lengthens it to `safety`).
    explicit UsbBoards(std::chrono::milliseconds period = std::chrono::milliseconds(250),
                       std::chrono::milliseconds safety = std::chrono::milliseconds(1000));
    ~UsbBoards();
    UsbBoards(const UsbBoards&) = delete;
    UsbBoards& operator=(const UsbBoards&) = delete;

    // The boot device at `location` in a look at most one period old.
    std::optional<bootwire::PortInfo> Find(const std::string& location);
    // Returns when the devices may have changed (hot-plug) or a period passed, or stop.
    void WaitForChange(std::stop_token stop);
    bool HasHotplug() const { return hotplug_ != nullptr; }

private:
    using Clock = std::chrono::steady_clock;
    void Changed();

    std::chrono::milliseconds period_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<bootwire::PortInfo> devices_;    // under mutex_
    std::optional<Clock::time_point> lookedAt_;  // under mutex_; empty: a change made the look stale
    uint64_t generation_ = 0;                    // under mutex_; counts hot-plug events
    std::unique_ptr<UsbHotplug> hotplug_;        // last: its thread calls Changed()
};

}  // namespace sealbench
