// The connection options that every target command takes, and opening the link
// they name.
#pragma once

#include <bootwire/bootwire.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

#include "download/presets.h"
#include "download/run_settings.h"

namespace sealbench::cli {

struct ConnectionOptions {
    std::string port;
    bool usb = false;
    std::string cpu;
    std::string memInit = "ddr";
    std::string progress = "auto";
};

void AddConnectionOptions(CLI::App* command, ConnectionOptions& options);

// The chosen processor type; throws UsageError when --cpu is missing or unknown.
ProcessorType RequireProcessor(const ConnectionOptions& options);

// The board a command talks to: a link of its own, opened for this run.
struct Connection {
    std::unique_ptr<bootwire::Link> link;
    bool usb = false;

    // What a run is handed; nothing needs enumerating again within one command.
    BoardLink Board() const { return {link.get(), usb, {}}; }
};

// Opens the port or the USB device the options name. On failure prints what the
// window would have said (to stderr, or the status log line to stdout when no link
// was named) and returns nullopt.
std::optional<Connection> OpenConnection(const ConnectionOptions& options, ProcessorType type);

// Prints one status-log line to stdout: the text's own trailing line feeds dropped.
void LogLine(std::string_view text);

}  // namespace sealbench::cli
