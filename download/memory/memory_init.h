// Memory initialisation: the built-in DDR and SDRAM presets, the memory-init
// script reader, and the step that "Execute" and "Mem Init?" run before a
// download. Every write is one register write on the link.
#pragma once

#include <bootwire/bootwire.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"
#include "download/plan/presets.h"
#include "download/plan/run_settings.h"

namespace sealbench {

struct RegisterWrite {
    uint32_t address;
    uint32_t value;
    uint8_t width;  // bits, sent as the frame's format byte
    bool operator==(const RegisterWrite&) const = default;
};

// The preset tables of a processor type; VireoC's for an unchosen type. VireoB
// has no SDRAM preset (empty).
std::span<const RegisterWrite> DdrPreset(ProcessorType type);
std::span<const RegisterWrite> SdramPreset(ProcessorType type);

inline constexpr std::string_view kDdrInitError = "DDR memory init error";
inline constexpr std::string_view kSdramInitError = "SDRAM init error";
inline constexpr std::string_view kScriptInitError = "Memory init error";

// Lines are read in pieces of at most this many characters, line end included;
// a longer line is read as several pieces.
inline constexpr size_t kScriptPieceLength = 125;

// One piece of a script as the reader takes it, with the file's line number.
struct ScriptPiece {
    std::string_view text;  // the LF included when the piece ends the line
    int lineNumber;
};
// Splits text with LF line ends (see NormalizeLineEnds) into pieces.
std::vector<ScriptPiece> SplitScript(std::string_view text);

// Scripts written on Windows end their lines with CR LF; the reader sees LF alone.
std::string NormalizeLineEnds(std::string_view text);

enum class ScriptLineKind { Skipped, Write, Malformed };
struct ScriptLine {
    ScriptLineKind kind = ScriptLineKind::Skipped;
    RegisterWrite write{};
    std::string_view problem;  // why a line is malformed
};

// Skipped: its first "#" stands within the first five characters, or it has no
// "#" and is shorter than five characters, or it holds nothing but blanks.
// Otherwise it must hold three fields separated by spaces: 0xADDRESS 0xVALUE
// WIDTH (8, 16 or 32); only the first eight digits of a hexadecimal field count,
// and anything after the width is ignored.
ScriptLine ParseScriptLine(std::string_view piece);

// The whole script checked before anything is written: a malformed line refuses it.
struct ParsedScript {
    std::vector<RegisterWrite> writes;
    std::vector<int> lineNumbers;  // of each write
    int malformedLine = 0;         // 0 when every line is in form
    std::string_view problem;
};
// `text` has LF line ends. The pieces after the first of a skipped line (a long
// comment) are skipped with it; those of another line are read as lines.
ParsedScript ParseScript(std::string_view text);

// Runs the step: DDR box, else SDRAM box, else the script (an empty path, or a
// script that cannot be opened and is not required, succeeds with nothing written;
// a path that is not a regular file fails). A failure's message is
// the branch's error text; its detail names a script's file and line, its
// diagnostic is what the library said.
Outcome RunMemoryInit(bootwire::Link& link, ProcessorType type, const MemoryInitChoice& choice);

// Writes the list in order; stops at the first write the target does not confirm.
Outcome RunRegisterWrites(bootwire::Link& link, ProcessorType type, std::span<const RegisterWrite> writes);

}  // namespace sealbench
