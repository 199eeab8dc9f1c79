// The virtual board's USB stream on Windows: TCP only (usb_sim.cpp); the board's
// Unix socket form is for POSIX hosts.
#include "sim_stream.h"

namespace bootwire::usb {

bool SimSocketPresent(const SimAddress&) { return false; }

std::unique_ptr<SimStream> SimConnectSocket(const std::string&, Error* error, std::string* detail) {
    *error = Error::Unsupported;
    *detail =
        "a Unix socket cannot be reached from Windows; start vireo-sim with --usb-tcp PORT and set "
        "BOOTWIRE_USB_SIM=tcp:127.0.0.1:PORT";
    return nullptr;
}

}  // namespace bootwire::usb
