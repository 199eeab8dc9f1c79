#include "station/presence.h"

#include <condition_variable>
#include <filesystem>

namespace sealbench {

namespace {

using Clock = std::chrono::steady_clock;

// Sleeps, ending early on stop; false when stopped.
bool Pause(std::stop_token stop, std::chrono::milliseconds period) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, period, [] { return false; });
    return !stop.stop_requested();
}

// Whether the port's path is there. Network ports and platform names (COM3) have
// no file to look at; for them the probe's open tells.
bool PathPresent(const std::string& port) {
    if (port.find("://") != std::string::npos || port.find_first_of("/\\") == std::string::npos) return true;
    std::error_code error;
    return std::filesystem::exists(port, error);  // a link to a pty that is gone does not count
}

class SerialWatcher final : public PresenceWatcher {
public:
    SerialWatcher(std::string port, PresenceOptions options) : port_(std::move(port)), options_(std::move(options)) {}

    bool WaitForArrival(std::stop_token stop, BoardSeen* seen) override {
        *seen = BoardSeen{};
        Clock::time_point nextProbe = Clock::now();
        bool wasThere = false;
        for (;;) {
            const bool there = PathPresent(port_);
            if (!there) SetLastLook(port_ + " is not there");
            // A port that just appeared is asked at once.
            if (there && (!wasThere || Clock::now() >= nextProbe)) {
                ProbeResult result = ProbeSerial(port_, options_.probe, stop);
                SetLastLook(result.detail);
                if (result.verdict == ProbeVerdict::Board) return true;
                nextProbe = Clock::now() + options_.probePeriod;
            }
            wasThere = there;
            if (!Pause(stop, options_.pollPeriod)) return false;
        }
    }

    bool WaitForDeparture(std::stop_token stop) override {
        Clock::time_point nextProbe = Clock::now() + options_.probePeriod;
        int misses = 0;
        for (;;) {
            if (!PathPresent(port_)) {
                SetLastLook(port_ + " is gone");
                return true;
            }
            if (Clock::now() >= nextProbe) {
                ProbeResult result = ProbeSerial(port_, options_.probe, stop);
                SetLastLook(result.detail);
                switch (result.verdict) {
                    case ProbeVerdict::Board:
                        misses = 0;
                        break;
                    case ProbeVerdict::Missing:
                        return true;
                    case ProbeVerdict::Console:
                    case ProbeVerdict::Silent:
                        if (++misses >= 2) return true;
                        break;
                    case ProbeVerdict::Busy:
                    case ProbeVerdict::Failed:
                        break;  // nothing can be told: the board stays
                }
                nextProbe = Clock::now() + options_.probePeriod;
            }
            if (!Pause(stop, options_.pollPeriod)) return false;
        }
    }

private:
    std::string port_;
    PresenceOptions options_;
};

class UsbWatcher final : public PresenceWatcher {
public:
    UsbWatcher(std::string location, UsbBoards& usb) : location_(std::move(location)), usb_(usb) {}

    bool WaitForArrival(std::stop_token stop, BoardSeen* seen) override {
        for (;;) {
            if (stop.stop_requested()) return false;
            if (auto device = usb_.Find(location_)) {
                serial_ = device->usbSerial;
                seen->usbSerial = serial_;
                SetLastLook("a USB boot device is at " + location_);
                return true;
            }
            SetLastLook("no USB boot device at " + location_);
            usb_.WaitForChange(stop);
        }
    }

    bool WaitForDeparture(std::stop_token stop) override {
        int misses = 0;
        for (;;) {
            if (stop.stop_requested()) return false;
            auto device = usb_.Find(location_);
            if (device && device->usbSerial != serial_) {
                SetLastLook("another USB boot device is at " + location_);
                return true;
            }
            // A device that re-enumerates is missing for a moment; two looks tell.
            misses = device ? 0 : misses + 1;
            if (misses >= 2) {
                SetLastLook("no USB boot device at " + location_);
                return true;
            }
            usb_.WaitForChange(stop);
        }
    }

private:
    std::string location_;
    UsbBoards& usb_;
    std::string serial_;
};

}  // namespace

std::string PresenceWatcher::LastLook() const {
    std::lock_guard lock(mutex_);
    return lastLook_;
}

void PresenceWatcher::SetLastLook(std::string text) {
    std::lock_guard lock(mutex_);
    lastLook_ = std::move(text);
}

std::unique_ptr<PresenceWatcher> MakePresenceWatcher(const SlotPlace& place, const PresenceOptions& options,
                                                     UsbBoards& usb) {
    if (place.IsUsb()) return std::make_unique<UsbWatcher>(place.text, usb);
    return std::make_unique<SerialWatcher>(place.text, options);
}

}  // namespace sealbench
