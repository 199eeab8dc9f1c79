#include "connection.h"

#include <cstdio>
#include <iostream>

#include "commands.h"

namespace sealbench::cli {

void AddConnectionOptions(CLI::App* command, ConnectionOptions& options) {
    CLI::Option* port = command->add_option(
        "-p,--port", options.port,
        "Serial port: a device path (/dev/ttyUSB0), a COM number, rfc2217://HOST:PORT or socket://HOST:PORT");
    command->add_flag("--usb", options.usb, "Use the USB boot device (2b4e:7a31) instead of a serial port")
        ->excludes(port);
    AddRunChoices(command, options);
}

void AddRunChoices(CLI::App* command, ConnectionOptions& options) {
    command->add_option("-c,--cpu", options.cpu, "Processor type: VireoB | VireoC_TO1 | VireoC_TO2");
    command->add_option("--mem-init", options.memInit,
                        "Memory initialisation: ddr (default) | sdram | none | a memory-init script");
    command->add_option("--progress", options.progress, "Progress on stderr: auto (default) | plain | none")
        ->check(CLI::IsMember({"auto", "plain", "none"}));
}

ProcessorType RequireProcessor(const ConnectionOptions& options) {
    if (options.cpu.empty()) {
        throw UsageError("Please select the Vireo version (--cpu VireoB | VireoC_TO1 | VireoC_TO2)");
    }
    auto type = ProcessorTypeFromName(options.cpu);
    if (!type) {
        throw UsageError("Unknown processor type '" + options.cpu +
                         "'. Please select the Vireo version: VireoB | VireoC_TO1 | VireoC_TO2");
    }
    return *type;
}

void LogLine(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::optional<BoardAddress> BoardOf(const ConnectionOptions& options) {
    if (options.usb) return UsbBoard();
    if (!options.port.empty()) return SerialBoard(options.port);
    return std::nullopt;
}

std::optional<OpenedBoard> OpenConnection(const ConnectionOptions& options, ProcessorType type) {
    std::optional<BoardAddress> address = BoardOf(options);
    if (!address) {
        LogLine("Error! - Please select the Com port");
        return std::nullopt;
    }
    Result<OpenedBoard> opened = OpenBoard(*address, type);
    if (!opened.Ok()) {
        std::fflush(stdout);  // the driver layer's own diagnostics come first
        std::cerr << opened.outcome.message << "\n";
        if (!opened.outcome.detail.empty()) std::cerr << opened.outcome.detail << "\n";
        return std::nullopt;
    }
    if (!opened.value.notice.empty()) {
        std::cerr << opened.value.notice << "\n";  // what the port cannot do (raw TCP keeps the server's line settings)
    }
    return std::move(opened.value);
}

}  // namespace sealbench::cli
