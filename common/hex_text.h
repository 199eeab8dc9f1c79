// Numbers written as text, read in one place. Each reader below keeps the rules of
// the field it serves (a page's "%08x" field, a memory-init script's "0x" field,
// the command line's strict form, the S-record page's shift-in reading), so that a
// text means the same thing wherever it is typed.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sealbench {

// 0..15 for a hexadecimal digit, -1 for anything else.
int HexDigit(char c);
bool IsHexDigit(char c);
// 0..9 for '0'..'9', 10..15 for 'A'..'F' and 'a'..'f', 0 for anything else.
int HexDigitValue(char c);

// A hexadecimal field of a page, read as "%08x" does: blanks and a 0x prefix may
// lead; text that does not start with a hexadecimal number reads as 0, and reading
// stops at the first character that is not a digit. Of nine digits the first eight
// count (the field holds nine characters); more than nine: nullopt.
std::optional<uint32_t> ReadHexField(std::string_view text);

// The command line's form: an optional 0x/0X prefix and 1 to 8 hexadecimal
// digits; nothing else.
std::optional<uint32_t> ParseHexStrict(std::string_view text);

// A memory-init script's field: the digits after the first lower-case "x", all of
// them hexadecimal, of which the first eight count. nullopt without an "x", without
// digits, or with a character that is not a digit.
std::optional<uint32_t> ParseHexAfterX(std::string_view field);

// Upper-cases the text and shifts in one hex digit per character; characters that
// are not digits shift in a 0, and bits beyond 32 are lost. So "0x100", "100" and
// "x100" all give 0x100, while "100h" gives 0x1000.
uint32_t HexTextToValue(std::string_view text);

// A decimal number with an optional sign, clamped to +-1,000,000,000 (every field
// that takes one clamps far below); nullopt for anything else.
std::optional<long long> DecimalTextToValue(std::string_view text);

}  // namespace sealbench
