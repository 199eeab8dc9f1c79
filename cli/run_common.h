// What the commands that run the download page's "Execute" share (download, flash,
// verify, erase): the settings the connection options give and the run on the one
// board or several boards the command names.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "connection.h"
#include "download/plan/run_settings.h"
#include "flash_options.h"
#include "several_boards.h"

namespace sealbench::cli {

// The settings the page would hold for these options.
RunSettings SettingsOf(const ConnectionOptions& options);

// Runs `settings` on the boards the command names (one board prints as a one-board
// run does); the exit status.
int RunOnBoards(const CLI::App& command, const ConnectionOptions& connection, const BoardOptions& boards,
                const RunSettings& settings);

}  // namespace sealbench::cli
