// The Win32 serial transport's settings as plain functions, so that a test can
// check every field without a port.
#pragma once

#include <bootwire/bootwire.h>

#include <string>

#include "common/win32_support.h"

namespace bootwire::win32 {

inline constexpr DWORD kLineBaud = 115200;
// A line that moves nothing for this long is stuck, whatever is left to move.
inline constexpr DWORD kIdleMs = 3000;
// A receive of n bytes may take kReceiveConstantMs + n * kReceivePerByteMs.
inline constexpr DWORD kReceiveConstantMs = 3000;
inline constexpr DWORD kReceivePerByteMs = 5;

// The device to open for a port text: a COM number ("3") or name ("COM12") becomes
// "\\.\COM3" (the only form that reaches COM10 and above); anything else, such as a
// "\\.\" path, is taken as it is. *display is the name for messages ("COM3").
std::string ComDeviceName(const std::string& port, std::string* display);

// The boot ROM's line on top of what the port reported: 115200 baud, 8 data bits,
// the parity and stop bits of the line mode (other modes keep the port's), parity
// sent but not checked, no flow control of any kind, DTR and RTS on.
void ApplyBootLine(DCB* dcb, int lineMode);

// The driver's own bounds: a read of n bytes ends when they all arrived or after
// kReceiveConstantMs + n * kReceivePerByteMs with what came; a write of n bytes may
// take n ms plus kIdleMs (the boot ROM tools' 1000 ms a byte would let a stuck
// board hold a 64 KiB send for hours). The transport bounds every wait itself as
// well, and ends a transfer in which nothing moved for kIdleMs.
COMMTIMEOUTS BootLineTimeouts();

}  // namespace bootwire::win32
