// Platforms where the station finds USB boot devices by looking regularly
// (Windows: WinUSB devices through SetupAPI, which ListPorts does).
#include "station/usb_boards.h"

namespace sealbench {

std::unique_ptr<UsbHotplug> UsbHotplug::Start(std::function<void()>) { return nullptr; }

}  // namespace sealbench
