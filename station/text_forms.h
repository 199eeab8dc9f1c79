// Texts in the forms a station's files need: JSON strings and XML text, both from
// whatever bytes a reason or a USB serial string holds (invalid UTF-8 becomes
// U+FFFD, so the file stays readable by strict parsers), times in ISO 8601 UTC,
// and bytes as lower-case hex.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sealbench {

// The text as valid UTF-8: each byte that does not belong to a well-formed
// sequence is replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// A JSON string literal with its quotes.
std::string JsonString(std::string_view text);

// Text for XML content or a quoted attribute: & < > " ' escaped, and the control
// characters XML 1.0 cannot hold (all below 0x20 but tab, line feed and carriage
// return) replaced by U+FFFD.
std::string XmlText(std::string_view text);

// "2025-03-04T05:06:07.089Z".
std::string IsoUtc(std::chrono::system_clock::time_point time);

// "00ff10".
std::string LowerHex(std::span<const uint8_t> bytes);

}  // namespace sealbench
