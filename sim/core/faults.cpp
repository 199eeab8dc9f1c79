#include "core/faults.h"

#include <charconv>
#include <vector>

namespace vsim {

namespace {

std::vector<std::string_view> SplitColons(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
        if (colon == std::string_view::npos) return parts;
        start = colon + 1;
    }
}

// Decimal digits only: no sign, no blanks, no trailing text.
bool ParseCount(std::string_view text, uint64_t* value) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseHexWord(std::string_view text, uint32_t* value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 8) return false;
    for (char c : text) {
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, 16);
    return ec == std::errc() && end == text.data() + text.size();
}

namespace {

FaultParse Malformed(std::string* error, std::string_view spec, const char* form) {
    if (error) *error = "bad fault \"" + std::string(spec) + "\": expected " + form;
    return FaultParse::Malformed;
}

}  // namespace

FaultParse ParseLinkFault(std::string_view spec, LinkFaults* faults, std::string* error) {
    std::vector<std::string_view> parts = SplitColons(spec);
    std::string_view name = parts[0];
    uint64_t n = 0;
    uint32_t word = 0;

    if (name == "reg-word") {
        const char* form = "reg-word:N[:WORD] with N >= 1 and WORD in hexadecimal";
        if (parts.size() < 2 || parts.size() > 3 || !ParseCount(parts[1], &n) || n == 0)
            return Malformed(error, spec, form);
        if (parts.size() == 3 && !ParseHexWord(parts[2], &word)) return Malformed(error, spec, form);
        faults->regWords[n] = parts.size() == 3 ? word : kDefaultRegFaultWord;
        return FaultParse::Applied;
    }
    if (name == "silent-after") {
        if (parts.size() != 2 || !ParseCount(parts[1], &n)) return Malformed(error, spec, "silent-after:N with N >= 0");
        faults->silentAfter = n;
        return FaultParse::Applied;
    }
    if (name == "status-silent") {
        if (parts.size() != 2 || !ParseCount(parts[1], &n) || n == 0)
            return Malformed(error, spec, "status-silent:N with N >= 1");
        faults->statusSilent.insert(n);
        return FaultParse::Applied;
    }
    if (name == "status-word") {
        if (parts.size() != 3 || !ParseCount(parts[1], &n) || n == 0 || !ParseHexWord(parts[2], &word))
            return Malformed(error, spec, "status-word:N:WORD with N >= 1 and WORD in hexadecimal");
        faults->statusWords[n] = word;
        return FaultParse::Applied;
    }
    if (name == "corrupt" || name == "corrupt-answer") {
        if (parts.size() != 2 || !ParseCount(parts[1], &n) || n == 0)
            return Malformed(error, spec, name == "corrupt" ? "corrupt:N with N >= 1" : "corrupt-answer:N with N >= 1");
        (name == "corrupt" ? faults->corruptHostBytes : faults->corruptAnswerBytes).insert(n);
        return FaultParse::Applied;
    }
    if (name == "line-limit") {
        if (parts.size() != 2 || !ParseCount(parts[1], &n) || n == 0 || n > 100000000)
            return Malformed(error, spec, "line-limit:BAUD with BAUD from 1 to 100000000");
        faults->lineLimit = static_cast<unsigned>(n);
        return FaultParse::Applied;
    }
    return FaultParse::NotMine;
}

std::string FaultHelp() {
    return "Faults (--fault SPEC, repeatable, also for several N; N counts from 1 unless\n"
           "said otherwise; "
           "WORD is hexadecimal with an optional 0x, 1 to 8 digits):\n"
           "  reg-word:N[:WORD]    the Nth register write is answered with WORD (default\n"
           "                       FFFFFFFF) in place of both answer words and is not applied\n"
           "  silent-after:N       the board takes N host bytes (N >= 0), handles them, then\n"
           "                       reads and sends nothing more: the host's sends block\n"
           "  status-silent:N      the Nth flashing-status query gets no answer\n"
           "  status-word:N:WORD   the Nth flashing-status query is answered with WORD\n"
           "                       instead of the running program's answer\n"
           "  corrupt:N            the Nth byte the host sends on the serial line arrives\n"
           "                       with every bit inverted\n"
           "  corrupt-answer:N     the Nth byte the board sends on the serial line arrives\n"
           "                       at the host with every bit inverted\n"
           "  line-limit:BAUD      the serial cable carries at most BAUD: while the line\n"
           "                       runs faster, every byte arrives garbled\n"
           "  Flash faults go to the board's flash (ADDR hexadecimal: a NOR bus address, or\n"
           "  on VireoC a NAND offset): erase-stuck:ADDR, program-stuck:ADDR,\n"
           "  bit-flip:ADDR:BIT, bad-block:ADDR\n";
}

}  // namespace vsim
