// download, flash and mem-init: the download page's "Execute" and "Mem Init?" for
// scripts. The status-log lines go to stdout, progress and diagnostics to stderr.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "cli_view.h"
#include "commands.h"
#include "connection.h"
#include "download/runner.h"
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
    BoardOptions boards;
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

// The settings the page would hold before its operation's fields: the processor and
// the memory initialisation.
RunSettings BaseSettings(const ConnectionOptions& options) {
    RunSettings s;
    s.processor = RequireProcessor(options);
    s.memoryInit = MemoryInitOf(options.memInit);
    return s;
}

// Runs "Execute" and waits for its tasks: the run bounds every wait on the target
// itself, so this only waits for it to report.
int Execute(const RunSettings& settings, const std::optional<Connection>& connection, ProgressMode mode) {
    CliView view(mode);
    Session session;
    Runner runner(view, session);
    if (!runner.Execute(settings, connection ? connection->Board() : BoardLink{})) {
        return kExitFailed;
    }
    while (!runner.WaitIdle(std::chrono::seconds(1))) {
    }
    return runner.LastRunSucceeded() ? kExitOk : kExitFailed;
}

// The boards the command names: several at once, or the one board as ever.
int Run(const CLI::App& command, const RunCommandOptions& o, const RunSettings& settings) {
    std::vector<BoardAddress> boards = BoardsOf(command, o.connection, o.boards);
    ProgressMode mode = ProgressModeOf(o.connection.progress);
    if ((o.boards.usbAll || (o.connection.usb && o.boards.retry > 0)) && boards.empty()) {
        return kExitFailed;
    }
    if (NeedsSeveralBoardRun(boards, o.boards)) {
        return RunSeveralBoards(boards, settings, o.boards.retry, mode);
    }
    std::optional<Connection> connection;
    if (boards.size() == 1 && boards.front().usb) {
        connection = OpenUsbDevice(boards.front().port);
    } else if (o.connection.usb || !o.connection.port.empty()) {
        connection = OpenConnection(o.connection, settings.processor);
    } else {
        return Execute(settings, std::nullopt, mode);  // logs "Please select the Com port"
    }
    return connection ? Execute(settings, connection, mode) : kExitFailed;
}

int RunDownload(const CLI::App& command, const RunCommandOptions& o) {
    RunSettings s = BaseSettings(o.connection);
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
    RunSettings s = BaseSettings(o.connection);
    s.operation = OperationType::Flashing;
    s.imagePath = o.image;
    s.flashType = type;
    s.flashLibPath = o.flashLib;
    s.partitionSizeText = o.partitionSize;
    // USER INPUT has no default address: the page unchecks the box.
    s.useDefaultAddress = o.address.empty() && type != FlashType::UserInput;
    s.addressText = o.address;
    s.secure = o.secure;
    return Run(command, o, s);
}

int RunMemInit(const RunCommandOptions& o) {
    ProcessorType type = RequireProcessor(o.connection);
    MemoryInitChoice choice = MemoryInitOf(o.connection.memInit);
    LogLine(PresetOf(type).banner);
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
    AddConnectionOptions(flash, options->connection);
    AddBoardOptions(flash, options->boards);
    flash->callback([flash, options, &status] { status = RunFlash(*flash, *options); });

    CLI::App* memInit = app.add_subcommand("mem-init", "Run the memory initialisation alone");
    AddConnectionOptions(memInit, options->connection);
    memInit->callback([options, &status] { status = RunMemInit(*options); });
}

}  // namespace sealbench::cli
