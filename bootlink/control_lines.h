// The modem-control lines in messages, and the answer of a link that has none.
#pragma once

#include <bootwire/bootwire.h>

#include <string>

namespace bootwire {

// "DTR on", "RTS off".
std::string ControlLineText(ControlLine line, bool on);

}  // namespace bootwire
