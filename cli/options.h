// Value checks shared by sealbench-cli's commands.
#pragma once

#include <CLI/CLI.hpp>

#include "common/hex_text.h"

namespace sealbench::cli {

// A CLI11 validator for the command line's hexadecimal form (ParseHexStrict).
CLI::Validator HexValue();

}  // namespace sealbench::cli
