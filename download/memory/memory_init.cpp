#include "download/memory/memory_init.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/file_checks.h"
#include "common/hex_text.h"
#include "download/run/run_sequence.h"

namespace sealbench {
namespace {

constexpr RegisterWrite kDdrVireoC[] = {
    {0xB8002050, 0x0000DCF6, 32}, {0xB8002054, 0x444A4541, 32}, {0xB8002058, 0x44443302, 32},
    {0xB6000000, 0xCAFECAFE, 32}, {0xB8002000, 0x0000CC03, 32}, {0xB8002004, 0xA0330D01, 32},
    {0xB8002008, 0x00220800, 32}, {0xB8001010, 0x00000004, 32}, {0xB8001004, 0x006AC73A, 32},
    {0xB8001000, 0x92100000, 32}, {0x80000F00, 0x12344321, 32}, {0xB8001000, 0xA2100000, 32},
    {0x80000000, 0x12344321, 32}, {0x80000000, 0x12344321, 32}, {0xB8001000, 0xB2100000, 32},
    {0x80000033, 0x000000DA, 8},  {0x81000000, 0x000000FF, 8},  {0xB8001000, 0x82226080, 32},
    {0x80000000, 0xDEADBEEF, 32},
};

constexpr RegisterWrite kDdrVireoB[] = {
    {0xD8002000, 0x0000CC03, 32}, {0xD8002004, 0xA0330D01, 32}, {0xD8002008, 0x00220800, 32},
    {0xD8001010, 0x00000004, 32}, {0xD8001004, 0x006AC73A, 32}, {0xD8001000, 0x92100000, 32},
    {0xA0000400, 0x00000000, 32}, {0xD8001000, 0xA2100000, 32}, {0xA0000000, 0x00000000, 32},
    {0xA0000000, 0x00000000, 32}, {0xD8001000, 0xB2100000, 32}, {0xA0000033, 0x00000000, 8},
    {0xA1000000, 0x00000000, 8},  {0xD8001000, 0x82226080, 32}, {0xA0000000, 0x00000000, 32},
    {0xD8001010, 0x0000000C, 32},
};

constexpr RegisterWrite kSdramVireoC[] = {
    {0xB8001004, 0x0079E7BA, 32}, {0xB8001000, 0x92100000, 32}, {0x80000F00, 0x12344321, 32},
    {0xB8001000, 0xA2100000, 32}, {0x80000000, 0x12344321, 32}, {0x80000000, 0x12344321, 32},
    {0xB8001000, 0xB2100000, 32}, {0x80000037, 0x000000DA, 8},  {0x81000000, 0x000000FF, 8},
    {0xB8001000, 0x82126180, 32}, {0x80000000, 0xDEADBEEF, 32},
};

// A script is a short text file; anything far larger is not one.
constexpr std::streamsize kMaxScriptSize = 16 * 1024 * 1024;

// A decimal width, optionally followed at once by a comment.
bool ParseWidthField(std::string_view field, uint8_t* width) {
    size_t end = field.find('#');
    std::string_view digits = field.substr(0, end);
    if (digits.empty() || digits.size() > 2) {
        return false;
    }
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value != 8 && value != 16 && value != 32) {
        return false;
    }
    *width = static_cast<uint8_t>(value);
    return true;
}

// Writes the list in order and counts what the target confirmed; stops at the first
// write it does not.
Outcome WriteAll(bootwire::Link& link, ProcessorType type, std::span<const RegisterWrite> writes, size_t* done) {
    int code = PresetOf(type).processorCode;
    *done = 0;
    for (const RegisterWrite& w : writes) {
        if (bootwire::Error error = link.WriteRegister(w.address, w.value, w.width, code);
            error != bootwire::Error::Ok) {
            return Outcome::Failure(FailureKind::Target, {}, SilentBoardHint(error), link.ErrorDetail());
        }
        ++*done;
    }
    return Outcome::Success();
}

Outcome RunScript(bootwire::Link& link, ProcessorType type, const std::string& path, bool required) {
    if (path.empty()) {
        return Outcome::Success();
    }
    // A FIFO would hold the thread in open() until some program writes to it, and
    // a device would be read until the size limit: neither is a script.
    if (auto refusal = RefuseNonRegularInput(path)) {
        return Outcome::Failure(FailureKind::File, std::string(kScriptInitError), "Memory init script " + *refusal);
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        int error = errno;
        if (!required) {
            return Outcome::Success();
        }
        return Outcome::Failure(FailureKind::File, std::string(kScriptInitError),
                                "Memory init script " + path + " cannot be read: " + std::strerror(error));
    }
    std::string text;
    text.assign(std::istreambuf_iterator<char>(file), {});
    if (file.bad() || static_cast<std::streamsize>(text.size()) > kMaxScriptSize) {
        return Outcome::Failure(FailureKind::File, std::string(kScriptInitError),
                                "Memory init script " + path + " could not be read whole");
    }
    ParsedScript script = ParseScript(NormalizeLineEnds(text));
    if (script.malformedLine != 0) {
        return Outcome::Failure(FailureKind::Input, std::string(kScriptInitError),
                                "Memory init script " + path + ", line " + std::to_string(script.malformedLine) + ": " +
                                    std::string(script.problem) + "; nothing was written");
    }
    size_t done = 0;
    Outcome outcome = WriteAll(link, type, script.writes, &done);
    if (!outcome.Ok()) {
        outcome.message = kScriptInitError;
        outcome.detail = "Memory init script " + path + ", line " + std::to_string(script.lineNumbers[done]) + ": " +
                         (outcome.detail.empty() ? "the target did not confirm the write" : outcome.detail);
    }
    return outcome;
}

}  // namespace

std::span<const RegisterWrite> DdrPreset(ProcessorType type) {
    if (type == ProcessorType::VireoB) {
        return kDdrVireoB;
    }
    return kDdrVireoC;
}

std::span<const RegisterWrite> SdramPreset(ProcessorType type) {
    if (type == ProcessorType::VireoB) {
        return {};
    }
    return kSdramVireoC;
}

std::vector<ScriptPiece> SplitScript(std::string_view text) {
    std::vector<ScriptPiece> pieces;
    int lineNumber = 1;
    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf == std::string_view::npos ? text.size() : lf + 1);
        text.remove_prefix(line.size());
        while (!line.empty()) {
            std::string_view piece = line.substr(0, kScriptPieceLength);
            line.remove_prefix(piece.size());
            pieces.push_back({piece, lineNumber});
        }
        ++lineNumber;
    }
    return pieces;
}

std::string NormalizeLineEnds(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        result += text[i];
    }
    return result;
}

ScriptLine ParseScriptLine(std::string_view piece) {
    ScriptLine line;
    size_t hash = piece.find('#');
    if (hash != std::string_view::npos ? hash < 5 : piece.size() < 5) {
        return line;
    }
    std::string_view body = piece;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) {
        body.remove_suffix(1);
    }
    // A line of blanks holds no write; refusing the script for it helps nobody.
    if (body.find_first_not_of(' ') == std::string_view::npos) {
        return line;
    }
    std::string_view fields[3];
    size_t count = 0;
    size_t at = 0;
    while (count < 3) {
        while (at < body.size() && body[at] == ' ') ++at;
        if (at == body.size()) break;
        size_t end = body.find(' ', at);
        if (end == std::string_view::npos) end = body.size();
        fields[count++] = body.substr(at, end - at);
        at = end;
    }
    line.kind = ScriptLineKind::Malformed;
    if (count < 3) {
        line.problem = "expected three fields: 0xADDRESS 0xVALUE WIDTH";
    } else if (std::optional<uint32_t> address = ParseHexAfterX(fields[0]); !address) {
        line.problem = "the address is not of the form 0xB8001004";
    } else if (std::optional<uint32_t> value = ParseHexAfterX(fields[1]); !value) {
        line.problem = "the value is not of the form 0x006AC73A";
    } else if (!ParseWidthField(fields[2], &line.write.width)) {
        line.problem = "the width must be 8, 16 or 32";
    } else {
        line.write.address = *address;
        line.write.value = *value;
        line.kind = ScriptLineKind::Write;
        line.problem = {};
    }
    return line;
}

ParsedScript ParseScript(std::string_view text) {
    ParsedScript script;
    int skippedLine = 0;
    for (const ScriptPiece& piece : SplitScript(text)) {
        // The rest of a long comment is comment too, not a line of its own.
        if (piece.lineNumber == skippedLine) {
            continue;
        }
        ScriptLine line = ParseScriptLine(piece.text);
        if (line.kind == ScriptLineKind::Skipped) {
            skippedLine = piece.lineNumber;
        }
        if (line.kind == ScriptLineKind::Malformed) {
            script.writes.clear();
            script.lineNumbers.clear();
            script.malformedLine = piece.lineNumber;
            script.problem = line.problem;
            return script;
        }
        if (line.kind == ScriptLineKind::Write) {
            script.writes.push_back(line.write);
            script.lineNumbers.push_back(piece.lineNumber);
        }
    }
    return script;
}

Outcome RunRegisterWrites(bootwire::Link& link, ProcessorType type, std::span<const RegisterWrite> writes) {
    size_t done = 0;
    return WriteAll(link, type, writes, &done);
}

Outcome RunMemoryInit(bootwire::Link& link, ProcessorType type, const MemoryInitChoice& choice) {
    if (choice.ddr || choice.sdram) {
        Outcome outcome = RunRegisterWrites(link, type, choice.ddr ? DdrPreset(type) : SdramPreset(type));
        if (!outcome.Ok()) {
            outcome.message = choice.ddr ? kDdrInitError : kSdramInitError;
        }
        return outcome;
    }
    return RunScript(link, type, choice.scriptPath, choice.scriptRequired);
}

}  // namespace sealbench
