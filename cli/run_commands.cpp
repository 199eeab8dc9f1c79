// download, flash and mem-init: the download page's "Execute" and "Mem Init?" for
// scripts. The status-log lines go to stdout, progress and diagnostics to stderr.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "cli_view.h"
#include "commands.h"
#include "connection.h"
#include "download/memory_init.h"
#include "download/run_plan.h"
#include "download/runner.h"
#include "options.h"

namespace sealbench::cli {
namespace {

struct RunCommandOptions {
    ConnectionOptions connection;
    std::string image;
    std::string address;
    bool secure = false;
    std::string flashType = "nor";
    std::string flashLib;
    std::string partitionSize;
};

MemoryInitChoice MemoryInitOf(const std::string& mode) {
    if (mode == "ddr") return {true, false, {}};
    if (mode == "sdram") return {false, true, {}};
    if (mode == "none") return {false, false, {}};
    // The page runs a missing script as "nothing to do"; on a command line a path
    // that names nothing is a mistake worth stopping for before the board is touched.
    std::error_code error;
    if (!std::filesystem::is_regular_file(mode, error)) {
        throw UsageError("--mem-init: no such memory-init script: " + mode +
                         " (use ddr, sdram, none or the path of a script)");
    }
    return {false, false, mode};
}

// The settings the page would hold for these options.
RunSettings SettingsOf(const ConnectionOptions& options) {
    RunSettings settings;
    settings.processor = RequireProcessor(options);
    settings.memoryInit = MemoryInitOf(options.memInit);
    return settings;
}

// What the command line gave is checked before the board is touched: a missing
// image or a wrong address must not cost a port and a memory initialisation, and
// the message names the file and the system's reason, or the accepted range.
bool InputsAccepted(const RunSettings& settings) {
    if (RefuseProcessor(settings)) {
        return true;  // "Execute" refuses the run itself, before it would read anything
    }
    Result<RunPlan> plan = MakeRunPlan(settings);
    Outcome files = plan.Ok() ? CheckRunFiles(settings) : plan.outcome;
    if (files.Ok()) {
        return true;
    }
    LogLine(PresetOf(settings.processor).banner);
    // The page checks its fields and runs a script before the run starts, and logs
    // their failures as "Error! - %s"; the worker reads the image and the library.
    bool pageCheck = !plan.Ok() || files.message == kScriptInitError;
    LogLine((pageCheck ? "Error! - " : "Error!!- Reason: ") + files.message);
    if (!files.detail.empty()) {
        LogLine(files.detail);
    }
    return false;
}

// Runs "Execute" on the board the options name and waits for its tasks: the run
// bounds every wait on the target itself, so this only waits for it to report.
int Execute(const RunSettings& settings, const ConnectionOptions& options) {
    if (!InputsAccepted(settings)) {
        return kExitFailed;
    }
    std::optional<Connection> connection;  // none: neither --port nor --usb was given
    if (options.usb || !options.port.empty()) {
        connection = OpenConnection(options, settings.processor);
        if (!connection) {
            return kExitFailed;
        }
    }
    CliView view(ProgressModeOf(options.progress));
    Session session;
    Runner runner(view, session);
    if (!runner.Execute(settings, connection ? connection->Board() : BoardLink{})) {
        return kExitFailed;
    }
    while (!runner.WaitIdle(std::chrono::seconds(1))) {
    }
    return runner.LastRunSucceeded() ? kExitOk : kExitFailed;
}

int RunDownload(const RunCommandOptions& o) {
    RunSettings s = SettingsOf(o.connection);
    s.operation = OperationType::DownloadOnly;
    s.imagePath = o.image;
    s.useDefaultAddress = o.address.empty();
    s.addressText = o.address;
    s.secure = o.secure;
    return Execute(s, o.connection);
}

int RunFlash(const RunCommandOptions& o) {
    FlashType type = o.flashType == "nand"   ? FlashType::Nand
                     : o.flashType == "user" ? FlashType::UserInput
                                             : FlashType::Nor;
    if (type == FlashType::UserInput && o.flashLib.empty()) {
        throw UsageError("--flash-type user needs --flash-lib FILE");
    }
    RunSettings s = SettingsOf(o.connection);
    s.operation = OperationType::Flashing;
    s.imagePath = o.image;
    s.flashType = type;
    s.flashLibPath = o.flashLib;
    s.partitionSizeText = o.partitionSize;
    // USER INPUT has no default address: the page unchecks the box.
    s.useDefaultAddress = o.address.empty() && type != FlashType::UserInput;
    s.addressText = o.address;
    s.secure = o.secure;
    return Execute(s, o.connection);
}

int RunMemInit(const RunCommandOptions& o) {
    ProcessorType type = RequireProcessor(o.connection);
    MemoryInitChoice choice = MemoryInitOf(o.connection.memInit);
    LogLine(PresetOf(type).banner);
    if (!choice.ddr && !choice.sdram && !choice.scriptPath.empty()) {
        if (std::string problem = FileProblem(choice.scriptPath, "The memory-init script"); !problem.empty()) {
            LogLine("Error! - " + std::string(kScriptInitError));
            LogLine(problem);
            return kExitFailed;
        }
    }
    auto connection = OpenConnection(o.connection, type);
    if (!connection) {
        return kExitFailed;
    }
    RunSettings s;
    s.processor = type;
    s.memoryInit = choice;
    CliView view(ProgressMode::None);
    Session session;
    Runner runner(view, session);
    return runner.MemoryInitAlone(s, connection->Board()) ? kExitOk : kExitFailed;
}

}  // namespace

void AddRunCommands(CLI::App& app, int& status) {
    auto options = std::make_shared<RunCommandOptions>();

    CLI::App* download = app.add_subcommand("download", "Load an image into target RAM and run it (DOWNLOAD only)");
    download->add_option("IMAGE", options->image, "Application image, or a combined image with --secure")->required();
    download->add_option("--address", options->address, "RAM application address (default: RAM base + 0x4000)")
        ->check(HexValue());
    download->add_flag("--secure", options->secure, "with CSF HWC: IMAGE is a combined image");
    AddConnectionOptions(download, options->connection);
    download->callback([options, &status] { status = RunDownload(*options); });

    CLI::App* flash = app.add_subcommand("flash", "Program the board's flash (FLASHING)");
    flash->add_option("IMAGE", options->image, "Image to write to flash")->required();
    flash->add_option("--flash-type", options->flashType, "nor (default) | nand | user")
        ->check(CLI::IsMember({"nor", "nand", "user"}));
    flash->add_option("--flash-lib", options->flashLib, "Flash library file (with --flash-type user)");
    flash->add_option("--address", options->address, "Flash start address, or the offset for NAND")->check(HexValue());
    flash->add_option("--partition-size", options->partitionSize, "NAND partition size")->check(HexValue());
    flash->add_flag("--secure", options->secure, "with CSF HWC: the flash library carries HWC and CSF");
    AddConnectionOptions(flash, options->connection);
    flash->callback([options, &status] { status = RunFlash(*options); });

    CLI::App* memInit = app.add_subcommand("mem-init", "Run the memory initialisation alone");
    AddConnectionOptions(memInit, options->connection);
    memInit->callback([options, &status] { status = RunMemInit(*options); });
}

}  // namespace sealbench::cli
