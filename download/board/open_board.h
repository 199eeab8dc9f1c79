// Opening a board: the one way every front end turns where a board is reached (a
// serial port path or COM number, rfc2217:// or socket://, the USB boot device,
// one at a USB location, a virtual board's USB) into a link of its own, or into the
// system's message with the reason and what to do.
#pragma once

#include <bootwire/bootwire.h>

#include <memory>
#include <string>
#include <string_view>

#include "common/outcome.h"
#include "download/plan/presets.h"

namespace sealbench {

// The window's message box when no USB boot device answers; a command line prints it.
inline constexpr std::string_view kNoUsbMessage = "No USB detected!\nPlease check your USB connection and Try again";

// Where a board is reached.
struct BoardAddress {
    std::string name;  // what messages call it: the port as given, or "usb:LOCATION"
    bool usb = false;
    // The serial port as given, or the USB boot device's location; empty with `usb`:
    // the USB boot device, when there is one.
    std::string port;
    // With `usb` and no location: when several boot devices answer, take the first
    // (the window's "USB" box) rather than refuse to guess (a command line).
    bool firstOfSeveral = false;
};

// The name a USB boot device at `location` goes by.
std::string UsbBoardName(const std::string& location);
// The address of the serial port `port`, or of the USB boot device at `location`.
BoardAddress SerialBoard(const std::string& port);
BoardAddress UsbBoard(const std::string& location = {});

struct OpenedBoard {
    std::unique_ptr<bootwire::Link> link;
    bool usb = false;
    std::string name;
    // What the port cannot do although it opened (a raw TCP port keeps the server's
    // line settings); for a note, not an error.
    std::string notice;
};

// Opens the board at the line settings of `processor`. A failure's message is the
// system's own ("Cannot Open PORT", or for USB "No USB detected!\nPlease check your
// USB connection and Try again"), its detail the reason and what to do about it, and
// its diagnostic what the USB driver layer said on the way.
Result<OpenedBoard> OpenBoard(const BoardAddress& address, ProcessorType processor);

// OpenBoard for a window, whose user sees no console: what the USB driver layer says
// on the way is caught, not printed. A failure's further lines, which the window's
// message box shows after its own text ("Cannot Open %1", "No USB detected!..."), go
// to `reason`: the system's message where it is not that text (a device that is there
// but cannot be opened, a port not chosen), its detail, then what the layer said.
Result<OpenedBoard> OpenBoardForWindow(const BoardAddress& address, ProcessorType processor, std::string* reason);

}  // namespace sealbench
