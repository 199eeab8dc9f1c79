// What the commands that run the download page's "Execute" share (download, flash,
// verify, erase): the settings the connection options give, the flash options, and
// the run on the one board or several boards the command names.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "connection.h"
#include "download/plan/run_settings.h"
#include "several_boards.h"

namespace sealbench::cli {

struct FlashOptions {
    std::string flashType = "nor";
    std::string address;
    std::string partitionSize;
    int baud = -1;  // -1: not given
};

// --flash-type (with `user` when the command takes a flash library of one's own),
// --partition-size and --baud; --address when `address` is given its description.
void AddFlashOptions(CLI::App* command, FlashOptions& options, bool userLibrary, const char* address);

FlashType FlashTypeOf(const std::string& name);

// The memory initialisation --mem-init names; throws UsageError for a script that
// cannot be read.
MemoryInitChoice MemoryInitOf(const std::string& mode);

// The settings the page would hold for these options.
RunSettings SettingsOf(const ConnectionOptions& options);

// Runs `settings` on the boards the command names (one board prints as a one-board
// run does); the exit status.
int RunOnBoards(const CLI::App& command, const ConnectionOptions& connection, const BoardOptions& boards,
                const RunSettings& settings);

}  // namespace sealbench::cli
