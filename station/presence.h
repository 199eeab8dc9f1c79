// Whether a board sits in a station's slot: one watcher per slot, which says when a
// board arrived and, once the station is done with it, when it has gone.
//
// A serial slot is present when its path exists (a USB serial adapter appears when
// plugged in; network ports always "exist") and a board answers the probe of
// serial_probe.h; it has gone when the path is gone, or when the probe fails twice
// running (a board does not miss an answer, a loose contact may once). A USB slot
// is present while Bootwire lists a boot device at its location (a virtual
// board's: while its socket is in the BOOTWIRE_USB_SIM folder); it has gone when
// two looks running miss it, or another device (another serial string) sits there.
// Every wait is a bounded poll that a stop request ends at once; an idle slot costs
// a stat (serial) or a share of one listing (USB) per poll.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

#include "station/serial_probe.h"
#include "station/slot_place.h"
#include "station/usb_boards.h"

namespace sealbench {

struct PresenceOptions {
    std::chrono::milliseconds pollPeriod{250};   // how often a serial path is looked at
    std::chrono::milliseconds probePeriod{500};  // how often a present serial port is asked
    ProbeOptions probe;
};

// What was seen of a board when it arrived.
struct BoardSeen {
    std::string usbSerial;  // a USB boot device's serial string; empty for serial slots
};

class PresenceWatcher {
public:
    virtual ~PresenceWatcher() = default;
    // Returns true once a board is present (at once when one already is), with what
    // was seen of it; false when stop was requested first.
    virtual bool WaitForArrival(std::stop_token stop, BoardSeen* seen) = 0;
    // Returns true once the board that arrived has gone; false on stop.
    virtual bool WaitForDeparture(std::stop_token stop) = 0;
    // What the latest look found, in words ("no board answers: ..."), for a display.
    std::string LastLook() const;

protected:
    void SetLastLook(std::string text);

private:
    mutable std::mutex mutex_;
    std::string lastLook_;  // under mutex_
};

// `usb` is shared by the station's USB slots and must outlive the watcher.
std::unique_ptr<PresenceWatcher> MakePresenceWatcher(const SlotPlace& place, const PresenceOptions& options,
                                                     UsbBoards& usb);

}  // namespace sealbench
