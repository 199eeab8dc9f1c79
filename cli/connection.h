// The connection options that every target command takes, and opening the link
// they name.
#pragma once

#include <bootwire/bootwire.h>

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "download/presets.h"

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

struct Connection {
    bootwire::Link* link = nullptr;
    int channel = 0;  // 0 serial, 1 USB
};

// Opens the port or the USB device the options name, on the process-wide links.
// On failure prints what the window would have said (to stderr, or the status log
// line to stdout when no link was named) and returns nullopt.
std::optional<Connection> OpenConnection(const ConnectionOptions& options, ProcessorType type);

// Prints one status-log line to stdout: the text's own trailing line feeds dropped.
void LogLine(std::string_view text);

}  // namespace sealbench::cli
