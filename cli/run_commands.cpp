// download, flash and mem-init: the download page's "Execute" and "Mem Init?" for
// scripts. The status-log lines go to stdout, progress and diagnostics to stderr.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "cli_view.h"
#include "commands.h"
#include "common/file_checks.h"
#include "connection.h"
#include "download/memory/memory_init.h"
#include "download/plan/run_plan.h"
#include "download/run/runner.h"
#include "options.h"
#include "run_common.h"
#include "several_boards.h"

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
    bool fast = false;
    bool full = false;
    std::string layout;
    int baud = -1;  // -1: not given
    BoardOptions boards;
};

// Fast serial flashing takes over a serial line with a built-in library; whatever
// else was asked for with it is refused before the board is touched.
void CheckFastOptions(const RunCommandOptions& o, const RunSettings& settings) {
    const bool usb = o.connection.usb || o.boards.usbAll || !o.boards.usbDevices.empty();
    if (!o.layout.empty()) {
        // A layout is always written in one session of the built-in library.
        if (std::optional<std::string> refused = RefuseRanges(settings, usb, o.connection.port, "--layout")) {
            throw UsageError(*refused);
        }
        return;
    }
    if (!o.fast) {
        if (o.baud != -1) {
            throw UsageError("--baud sets the rate of fast serial flashing: use it with --fast");
        }
        if (o.full) {
            throw UsageError("--full sends every block in fast serial flashing: use it with --fast");
        }
        return;
    }
    if (std::optional<std::string> refused = RefuseFastSerial(settings, usb, o.connection.port)) {
        if (o.baud != -1 && CheckFastBaud(o.baud)) {
            throw UsageError("--baud " + std::to_string(o.baud) + ": " + *refused);
        }
        throw UsageError("--fast: " + *refused + "; flash without --fast");
    }
}

int Run(const CLI::App& command, const RunCommandOptions& o, const RunSettings& settings) {
    return RunOnBoards(command, o.connection, o.boards, settings);
}

int RunDownload(const CLI::App& command, const RunCommandOptions& o) {
    if (o.fast) {
        throw UsageError("--fast is for flash: a download-only run always goes through the boot ROM at 115200 baud");
    }
    RunSettings s = SettingsOf(o.connection);
    s.operation = OperationType::DownloadOnly;
    s.imagePath = o.image;
    s.useDefaultAddress = o.address.empty();
    s.addressText = o.address;
    s.secure = o.secure;
    return Run(command, o, s);
}

int RunFlash(const CLI::App& command, const RunCommandOptions& o) {
    FlashType type = FlashTypeOf(o.flashType);
    if (o.image.empty() == o.layout.empty()) {
        throw UsageError(o.image.empty() ? "flash needs an IMAGE or --layout FILE"
                                         : "flash takes an IMAGE or --layout FILE, not both");
    }
    if (!o.layout.empty() && (!o.address.empty() || !o.partitionSize.empty())) {
        throw UsageError("--layout names where each image goes: leave out --address and --partition-size");
    }
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
    s.fastSerial = o.fast || !o.layout.empty();
    s.fastBaud = o.baud != -1 ? o.baud : bootwire::kStreamDefaultBaud;
    s.everyBlock = o.full;
    s.layoutPath = o.layout;
    CheckFastOptions(o, s);
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
    download->add_option("--address", options->address, "RAM application address (default: RAM base + 0x4000)")
        ->check(HexValue());
    download->add_flag("--secure", options->secure, "with CSF HWC: IMAGE is a combined image");
    // Accepted only to say why it does not apply.
    download->add_flag("--fast", options->fast, "(flash only)")->group("");
    AddConnectionOptions(download, options->connection);
    AddBoardOptions(download, options->boards);
    download->callback([download, options, &status] { status = RunDownload(*download, *options); });

    CLI::App* flash = app.add_subcommand("flash", "Program the board's flash (FLASHING)");
    flash->add_option("IMAGE", options->image, "Image to write to flash (or --layout FILE)");
    flash->add_option("--flash-type", options->flashType, "nor (default) | nand | user")
        ->check(CLI::IsMember({"nor", "nand", "user"}));
    flash->add_option("--flash-lib", options->flashLib, "Flash library file (with --flash-type user)");
    flash->add_option("--address", options->address, "Flash start address, or the offset for NAND")->check(HexValue());
    flash->add_option("--partition-size", options->partitionSize, "NAND partition size")->check(HexValue());
    flash->add_flag("--secure", options->secure, "with CSF HWC: the flash library carries HWC and CSF");
    flash->add_flag("--fast", options->fast,
                    "Fast serial flashing: the built-in library streams the image compressed at --baud and "
                    "verifies it (serial port only)");
    flash->add_option("--baud", options->baud, "Rate of --fast: 921600 (default) | 460800 | 230400 | 115200");
    flash->add_flag("--full", options->full,
                    "With --fast: send every block; without it only the blocks whose content differs from the flash "
                    "go, so a run that was cut off resumes where it stopped");
    flash
        ->add_option("--layout", options->layout,
                     "A TOML file naming several images and where each goes, written in one session of the "
                     "built-in library (fast serial flashing)")
        ->type_name("FILE");
    AddConnectionOptions(flash, options->connection);
    AddBoardOptions(flash, options->boards);
    flash->callback([flash, options, &status] { status = RunFlash(*flash, *options); });

    CLI::App* memInit = app.add_subcommand("mem-init", "Run the memory initialisation alone");
    AddConnectionOptions(memInit, options->connection);
    memInit->callback([options, &status] { status = RunMemInit(*options); });
}

}  // namespace sealbench::cli
