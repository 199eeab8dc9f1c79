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
    int baud = -1;           // -1: not given
    int statusTimeout = -1;  // seconds; -1: as the library needs
    BoardOptions boards;
};

MemoryInitChoice MemoryInitOf(const std::string& mode) {
    if (mode == "ddr") return {true, false, {}};
    if (mode == "sdram") return {false, true, {}};
    if (mode == "none") return {false, false, {}};
    // The page runs a script it cannot open as "nothing to do"; on a command line
    // the path was given on purpose, so whatever keeps it from being read stops the
    // command, with the reason, before the board is touched.
    std::error_code error;
    if (std::filesystem::status(mode, error).type() == std::filesystem::file_type::not_found) {
        throw UsageError("--mem-init: no such memory-init script: " + mode +
                         " (use ddr, sdram, none or the path of a script)");
    }
    if (auto refusal = RefuseNonRegularInput(mode)) {
        throw UsageError("--mem-init: " + *refusal);
    }
    std::FILE* script = std::fopen(mode.c_str(), "rb");
    if (script == nullptr) {
        throw UsageError("--mem-init: cannot read the memory-init script " + mode + ": " + std::strerror(errno));
    }
    std::fclose(script);
    return {false, false, mode, true};
}

// The settings the page would hold for these options.
RunSettings SettingsOf(const ConnectionOptions& options) {
    RunSettings settings;
    settings.processor = RequireProcessor(options);
    settings.memoryInit = MemoryInitOf(options.memInit);
    return settings;
}

// Fast serial flashing takes over a serial line with a built-in library; whatever
// else was asked for with it is refused before the board is touched.
void CheckFastOptions(const RunCommandOptions& o, const RunSettings& settings) {
    if (!o.fast) {
        if (o.baud != -1) {
            throw UsageError("--baud sets the rate of fast serial flashing: use it with --fast");
        }
        return;
    }
    const bool usb = o.connection.usb || o.boards.usbAll || !o.boards.usbDevices.empty();
    if (std::optional<std::string> refused = RefuseFastSerial(settings, usb, o.connection.port)) {
        if (o.baud != -1 && CheckFastBaud(o.baud)) {
            throw UsageError("--baud " + std::to_string(o.baud) + ": " + *refused);
        }
        throw UsageError("--fast: " + *refused + "; flash without --fast");
    }
}

// The boards the command names, one or several, each planned, opened and run by a
// BoardRun of its own: a missing image or a wrong address is refused before a port
// is opened or a memory initialisation is spent.
int Run(const CLI::App& command, const RunCommandOptions& o, const RunSettings& settings) {
    std::vector<BoardAddress> boards = BoardsOf(command, o.connection, o.boards);
    ProgressMode mode = ProgressModeOf(o.connection.progress);
    if ((o.boards.usbAll || (o.connection.usb && o.boards.retry > 0)) && boards.empty()) {
        return kExitFailed;
    }
    if (boards.empty()) {
        if (std::optional<BoardAddress> board = BoardOf(o.connection)) {
            boards.push_back(*board);
        } else {
            boards.push_back({});  // no port: "Execute" says "Please select the Com port"
        }
    }
    return RunBoards(boards, settings, o.boards.retry, mode);
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
    s.fastSerial = o.fast;
    s.fastBaud = o.baud != -1 ? o.baud : bootwire::kStreamDefaultBaud;
    CheckFastOptions(o, s);
    if (o.statusTimeout != -1) {
        if (o.fast) {
            throw UsageError(
                "--status-timeout bounds the status polling of a run without --fast (a fast run's "
                "stream keeps its own bounds)");
        }
        s.statusSilenceLimit = std::chrono::seconds(o.statusTimeout);
    }
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
    flash->add_option("IMAGE", options->image, "Image to write to flash")->required();
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
    flash
        ->add_option("--status-timeout", options->statusTimeout,
                     "How long the flash library may stay silent while it flashes, in seconds (default: 20 for "
                     "the built-in libraries, which answer all along; 300 for a user's, which may not answer "
                     "through a chip erase)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
    AddConnectionOptions(flash, options->connection);
    AddBoardOptions(flash, options->boards);
    flash->callback([flash, options, &status] { status = RunFlash(*flash, *options); });

    CLI::App* memInit = app.add_subcommand("mem-init", "Run the memory initialisation alone");
    AddConnectionOptions(memInit, options->connection);
    memInit->callback([options, &status] { status = RunMemInit(*options); });
}

}  // namespace sealbench::cli
