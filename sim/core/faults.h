// Faults the board injects on its side of the link, given as --fault texts.
// Flash faults are not parsed here: the board's flash model knows its own.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vsim {

// Counts start at 1; a fault given twice for the same N keeps the later one.
struct LinkFaults {
    // Register write N is answered with the word in place of both of its answer words
    // and is not applied.
    std::map<uint64_t, uint32_t> regWords;
    // After this many host bytes the board takes no more bytes and sends nothing.
    std::optional<uint64_t> silentAfter;
    // Flashing-status query N goes unanswered.
    std::set<uint64_t> statusSilent;
    // Flashing-status query N is answered with the word instead of the program's answer.
    std::map<uint64_t, uint32_t> statusWords;
    // Byte N of what the host sends on the serial line arrives with every bit inverted.
    std::set<uint64_t> corruptHostBytes;
    // Byte N of what the board sends on the serial line arrives with every bit inverted.
    std::set<uint64_t> corruptAnswerBytes;
    // The serial cable carries no more than this many baud: faster bytes arrive garbled.
    std::optional<unsigned> lineLimit;
};

inline constexpr uint32_t kDefaultRegFaultWord = 0xFFFFFFFF;

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
