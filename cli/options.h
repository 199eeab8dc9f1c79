// Value checks and name look-ups shared by sealbench-cli's commands.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex_text.h"

namespace sealbench::cli {

// A CLI11 validator for the command line's hexadecimal form (ParseHexStrict).
CLI::Validator HexValue();

// The command a mistyped word most likely meant: the fewest single-character edits
// away; nullopt when `names` is empty.
std::optional<std::string> NearestName(std::string_view word, const std::vector<std::string>& names);

// The word in `argv` that names the command (the first that is not an option), or
// nullopt when there is none.
std::optional<std::string> CommandWord(int argc, char** argv);

}  // namespace sealbench::cli
