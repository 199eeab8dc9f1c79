// Faults the board injects on its side of the link, given as --fault texts.
// Flash faults are not parsed here: the board's flash model knows its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vsim {

struct LinkFaults {
    // The Nth register write (counted from 1) is answered with this word in place of
    // both of its answer words and is not applied.
    std::optional<uint64_t> regWordAt;
    uint32_t regWord = 0xFFFFFFFF;
    // After this many host bytes the board takes no more bytes and sends nothing.
    std::optional<uint64_t> silentAfter;
    // The Nth flashing-status query goes unanswered.
    std::optional<uint64_t> statusSilentAt;
    // The Nth flashing-status query is answered with this word instead of the program's.
    std::optional<uint64_t> statusWordAt;
    uint32_t statusWord = 0;
};

enum class FaultParse {
    Applied,    // a link fault, stored in the LinkFaults
    NotMine,    // not a link fault's name: the flash model may know it
    Malformed,  // a link fault's name with bad arguments; *error says why
};

// The project's HEX form: an optional 0x/0X, then 1 to 8 hexadecimal digits.
bool ParseHexWord(std::string_view text, uint32_t* value);

FaultParse ParseLinkFault(std::string_view spec, LinkFaults* faults, std::string* error);

// The --fault part of the board's help text.
std::string FaultHelp();

}  // namespace vsim
