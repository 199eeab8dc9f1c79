// Which board sits in a slot. --identity ADDRESS:LENGTH reads up to 64 bytes
// through the boot ROM before the run (a chip's unique-ID or fuse words); without
// it a USB board goes by its serial string, and anything else by its slot.
#pragma once

#include <bootwire/bootwire.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/outcome.h"

namespace sealbench {

inline constexpr size_t kMaxIdentityBytes = 64;

struct IdentitySpec {
    uint32_t address = 0;
    size_t length = 0;
};

// "ADDRESS:LENGTH", both HEX as every address and length of the command line
// (LENGTH 1 to 40, that is 64 bytes); FailureKind::Input otherwise.
Result<IdentitySpec> ParseIdentitySpec(std::string_view text);

// The bytes at the address and length `spec` names, in lower-case hex; FailureKind::Target with the
// link's reason when the board does not deliver them.
Result<std::string> ReadIdentity(bootwire::Link& link, const IdentitySpec& spec);

// The identity a board is reported by: the bytes read, else the USB serial
// string, else the place.
std::string ChooseIdentity(std::string_view readHex, std::string_view usbSerial, std::string_view place);

}  // namespace sealbench
