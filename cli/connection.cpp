#include "connection.h"

#include <cstdio>
#include <iostream>

#include "commands.h"

namespace sealbench::cli {

void AddConnectionOptions(CLI::App* command, ConnectionOptions& options) {
    command->add_option(
        "--port", options.port,
        "Serial port: a device path (/dev/ttyUSB0), a COM number, rfc2217://HOST:PORT or socket://HOST:PORT");
    command->add_flag("--usb", options.usb, "Use the USB boot device (2b4e:7a31) instead of a serial port");
    command->add_option("--cpu", options.cpu, "Processor type: VireoB | VireoC_TO1 | VireoC_TO2");
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

namespace {

void ExplainFailure(bootwire::Error error, const std::string& detail) {
    if (!detail.empty()) {
        std::cerr << detail << "\n";
    }
    if (error == bootwire::Error::Permission) {
        std::cerr << "Access was refused. For a serial port, add yourself to the 'dialout' group "
                     "(sudo usermod -aG dialout $USER, then log in again); for the USB boot device, install "
                     "packaging/60-sealbench.rules as the README explains.\n";
    }
}

}  // namespace

std::optional<Connection> OpenConnection(const ConnectionOptions& options, ProcessorType type) {
    bootwire::Error error = bootwire::Error::Ok;
    std::string detail;
    if (options.usb) {
        auto transport = bootwire::OpenUsb(&error, &detail);
        if (!transport) {
            std::fflush(stdout);  // the driver layer's own diagnostics come first
            std::cerr << "No USB detected!\nPlease check your USB connection and Try again\n";
            ExplainFailure(error, detail);
            return std::nullopt;
        }
        return Connection{std::make_unique<bootwire::Link>(std::move(transport)), true};
    }
    if (options.port.empty()) {
        LogLine("Error! - Please select the Com port");
        return std::nullopt;
    }
    auto transport = bootwire::OpenSerial(options.port, PresetOf(type).lineMode, &error, &detail);
    if (!transport || error != bootwire::Error::Ok) {
        std::cerr << "Cannot Open " << options.port << "\n";
        ExplainFailure(error, detail);
        return std::nullopt;
    }
    if (!detail.empty()) {
        std::cerr << detail << "\n";  // what the port cannot do (raw TCP keeps the server's line settings)
    }
    return Connection{std::make_unique<bootwire::Link>(std::move(transport)), false};
}

}  // namespace sealbench::cli
