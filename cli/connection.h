// The connection options that every target command takes, and opening the link
// they name.
#pragma once

#include <bootwire/bootwire.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

#include "download/board/open_board.h"
#include "download/plan/presets.h"
#include "download/plan/run_settings.h"

namespace sealbench::cli {

struct ConnectionOptions {
    std::string port;
    bool usb = false;
    std::string cpu;
    std::string memInit = "ddr";
    std::string progress = "auto";
};

void AddConnectionOptions(CLI::App* command, ConnectionOptions& options);
// --cpu, --mem-init and --progress alone, for a command that finds its boards itself.
void AddRunChoices(CLI::App* command, ConnectionOptions& options);

// The chosen processor type; throws UsageError when --cpu is missing or unknown.
ProcessorType RequireProcessor(const ConnectionOptions& options);

// The board the options name: --port or --usb; nullopt when neither was given.
std::optional<BoardAddress> BoardOf(const ConnectionOptions& options);

// Opens the board the options name through the one door. On failure prints what the
// window would have said (to stderr, or the status-log line to stdout when no board
// was named) and returns nullopt.
std::optional<OpenedBoard> OpenConnection(const ConnectionOptions& options, ProcessorType type);

// What a run is handed; nothing needs enumerating again within one command.
inline BoardLink LinkOf(const OpenedBoard& board) { return {board.link.get(), board.usb, {}}; }

// Prints one status-log line to stdout: the text's own trailing line feeds dropped.
void LogLine(std::string_view text);

}  // namespace sealbench::cli
