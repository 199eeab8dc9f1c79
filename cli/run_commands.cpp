// download, flash and mem-init: the download page's "Execute" and "Mem Init?" for
// scripts. The status-log lines go to stdout, progress and diagnostics to stderr.
#include <cstdio>
#include <iostream>

#include "cli_view.h"
#include "commands.h"
#include "common/file_checks.h"
#include "connection.h"
#include "download/memory/memory_init.h"
#include "download/plan/run_plan.h"
#include "download/run/runner.h"
#include "flash_options.h"
#include "options.h"
#include "run_common.h"
#include "several_boards.h"

namespace sealbench::cli {
namespace {

struct RunCommandOptions {
    ConnectionOptions connection;
    std::string image;
    FlashOptions flash;  // download takes --address and --secure of these
    BoardOptions boards;
};

int Run(const CLI::App& command, const RunCommandOptions& o, const RunSettings& settings) {
    return RunOnBoards(command, o.connection, o.boards, settings);
}

int RunDownload(const CLI::App& command, const RunCommandOptions& o) {
    if (o.flash.fast) {
        throw UsageError("--fast is for flash: a download-only run always goes through the boot ROM at 115200 baud");
    }
    RunSettings s = SettingsOf(o.connection);
    s.operation = OperationType::DownloadOnly;
    s.imagePath = o.image;
    s.useDefaultAddress = o.flash.address.empty();
    s.addressText = o.flash.address;
    s.secure = o.flash.secure;
    return Run(command, o, s);
}

int RunFlash(const CLI::App& command, const RunCommandOptions& o) {
    if (o.image.empty() == o.flash.layout.empty()) {
        throw UsageError(o.image.empty() ? "flash needs an IMAGE or --layout FILE"
                                         : "flash takes an IMAGE or --layout FILE, not both");
    }
    if (!o.flash.layout.empty() && (!o.flash.address.empty() || !o.flash.partitionSize.empty())) {
        throw UsageError("--layout names where each image goes: leave out --address and --partition-size");
    }
    RunSettings s = FlashSettingsOf(o.connection, o.flash, o.image);
    const bool usb = o.connection.usb || o.boards.usbAll || !o.boards.usbDevices.empty();
    CheckFastOptions(o.flash, s, usb, o.connection.port);
    return Run(command, o, s);
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
    return runner.MemoryInitAlone(s, LinkOf(*connection)) ? kExitOk : kExitFailed;
}

}  // namespace

void AddRunCommands(CLI::App& app, int& status) {
    auto options = std::make_shared<RunCommandOptions>();

    CLI::App* download = app.add_subcommand("download", "Load an image into target RAM and run it (DOWNLOAD only)");
    download->add_option("IMAGE", options->image, "Application image, or a combined image with --secure")->required();
    download->add_option("--address", options->flash.address, "RAM application address (default: RAM base + 0x4000)")
        ->check(HexValue());
    download->add_flag("--secure", options->flash.secure, "with CSF HWC: IMAGE is a combined image");
    // Accepted only to say why it does not apply.
    download->add_flag("--fast", options->flash.fast, "(flash only)")->group("");
    AddConnectionOptions(download, options->connection);
    AddBoardOptions(download, options->boards);
    download->callback([download, options, &status] { status = RunDownload(*download, *options); });

    CLI::App* flash = app.add_subcommand("flash", "Program the board's flash (FLASHING)");
    flash->add_option("IMAGE", options->image, "Image to write to flash (or --layout FILE)");
    AddFlashOptions(flash, options->flash);
    AddConnectionOptions(flash, options->connection);
    AddBoardOptions(flash, options->boards);
    flash->callback([flash, options, &status] { status = RunFlash(*flash, *options); });

    CLI::App* memInit = app.add_subcommand("mem-init", "Run the memory initialisation alone");
    AddConnectionOptions(memInit, options->connection);
    memInit->callback([options, &status] { status = RunMemInit(*options); });
}

}  // namespace sealbench::cli
