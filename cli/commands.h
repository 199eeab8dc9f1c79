// sealbench-cli's commands, one registration function per group. Each group adds
// its subcommands to the application and stores the command's exit status in
// `status` when the subcommand runs.
#pragma once

#include <CLI/CLI.hpp>

namespace sealbench::cli {

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// read, sekurel-status, write-reg
void AddLinkCommands(CLI::App& app, int& status);
// dump
void AddDumpCommand(CLI::App& app, int& status);
// download, flash, mem-init
void AddRunCommands(CLI::App& app, int& status);
// verify, erase
void AddRangeCommands(CLI::App& app, int& status);
// hwc, csf, combine, sign, srec
void AddFileCommands(CLI::App& app, int& status);
// ports
void AddPortsCommand(CLI::App& app, int& status);
// station
void AddStationCommand(CLI::App& app, int& status);

// A usage error found after parsing (a value CLI11 cannot check by itself).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace sealbench::cli
