// Where a station's slot is: a serial port path (which need not exist yet: a USB
// serial adapter appears when its board is plugged in), a network serial port, a
// USB location as `sealbench-cli ports` lists it ("1-2.3" on Linux, "pci0.1400-3.2"
// on Windows, which also takes its location path and the older hub port form
// "Port_#0002.Hub_#0001"), or a virtual board's "sim:NAME". The text decides the kind;
// a station refuses two slots at one place.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"

namespace sealbench {

struct SlotPlace {
    enum class Kind {
        Serial,      // a device path or COM port; also rfc2217:// and socket:// ports
        Usb,         // a USB boot device on a bus, by its location
        VirtualUsb,  // a virtual board's USB socket in the BOOTWIRE_USB_SIM folder
    };
    Kind kind = Kind::Serial;
    std::string text;  // as given; what OpenSerial or OpenUsbAt takes

    bool IsUsb() const { return kind != Kind::Serial; }
};

// One place from its text; an empty or malformed one is FailureKind::Input.
Result<SlotPlace> ParseSlotPlace(std::string_view text);

// Every --slot of a station, in order; a place named twice (also as two spellings
// of one path) is refused with both texts.
Result<std::vector<SlotPlace>> ParseSlotPlaces(const std::vector<std::string>& texts);

}  // namespace sealbench
