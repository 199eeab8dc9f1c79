// Setting DTR or RTS: the default for links without modem-control lines. Serial
// ports (serial_posix.cpp, serial_win32.cpp) and RFC 2217 ports override it.
#include "control_lines.h"

namespace bootwire {

std::string ControlLineText(ControlLine line, bool on) {
    return std::string(line == ControlLine::Dtr ? "DTR" : "RTS") + (on ? " on" : " off");
}

Error Transport::SetControlLine(ControlLine line, bool on) {
    return Fail(Error::Unsupported, Describe() + " has no DTR/RTS lines: " + ControlLineText(line, on) +
                                        " needs a serial port or an rfc2217:// port");
}

}  // namespace bootwire
