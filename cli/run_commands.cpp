// download, flash and mem-init: the download page's "Execute" and "Mem Init?" for
// scripts. The status-log lines go to stdout, progress and diagnostics to stderr.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "commands.h"
#include "common/terminal.h"
#include "connection.h"
#include "download/target_run.h"
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

enum class ProgressMode { None, Plain, Bar };

// The page's controls for a terminal: log lines on stdout, the bar on stderr.
class CliView : public RunView {
public:
    explicit CliView(ProgressMode mode) : mode_(mode) {}

    void AppendLog(std::string_view line, int) override {
        std::lock_guard lock(mutex_);
        ClearBar();
        LogLine(line);
        DrawBar();
    }
    void SetProgressRange(int64_t minimum, int64_t maximum) override {
        std::lock_guard lock(mutex_);
        minimum_ = minimum;
        maximum_ = maximum;
        lastTenth_ = -1;
        DrawBar();
    }
    void SetProgressPosition(int64_t position) override {
        std::lock_guard lock(mutex_);
        position_ = position;
        if (mode_ == ProgressMode::Plain) {
            int64_t span = maximum_ - minimum_;
            int tenth = span > 0 ? static_cast<int>((position_ - minimum_) * 10 / span) : 0;
            if (tenth != lastTenth_) {
                lastTenth_ = tenth;
                std::fprintf(stderr, "%s %d%%\n", caption_.c_str(), tenth * 10);
            }
        }
        DrawBar();
    }
    void SetProgressCaption(std::string_view caption) override {
        std::lock_guard lock(mutex_);
        caption_ = caption;
        lastTenth_ = -1;
        DrawBar();
    }
    void Diagnostic(std::string_view text) override {
        if (text.empty()) {
            return;
        }
        std::lock_guard lock(mutex_);
        ClearBar();
        std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
        DrawBar();
    }
    void RunEnded(bool) override {
        std::lock_guard lock(mutex_);
        ClearBar();
        drawn_ = false;
        mode_ = mode_ == ProgressMode::Bar ? ProgressMode::None : mode_;
    }

private:
    void ClearBar() {
        if (mode_ == ProgressMode::Bar && drawn_) {
            std::fputs("\r\033[K", stderr);
        }
    }
    void DrawBar() {
        if (mode_ != ProgressMode::Bar || caption_.empty()) {
            return;
        }
        constexpr int kWidth = 40;
        int64_t span = maximum_ - minimum_;
        int64_t done = span > 0 ? std::clamp<int64_t>(position_ - minimum_, 0, span) : 0;
        int filled = span > 0 ? static_cast<int>(done * kWidth / span) : 0;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(kWidth, '.');
        std::fprintf(stderr, "\r\033[K%-16s [%s] %3d%%", caption_.c_str(), bar.c_str(),
                     span > 0 ? static_cast<int>(done * 100 / span) : 0);
        std::fflush(stderr);
        drawn_ = true;
    }

    std::mutex mutex_;
    ProgressMode mode_;
    std::string caption_;
    int64_t minimum_ = 0;
    int64_t maximum_ = 0;
    int64_t position_ = 0;
    int lastTenth_ = -1;
    bool drawn_ = false;
};

ProgressMode ModeOf(const std::string& text) {
    if (text == "plain") return ProgressMode::Plain;
    if (text == "none") return ProgressMode::None;
    return StderrIsTerminal() ? ProgressMode::Bar : ProgressMode::None;
}

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

// The settings the page would hold, with the connection opened; nullopt after the
// failure to open has been reported.
std::optional<RunSettings> Prepare(const ConnectionOptions& options) {
    RunSettings s;
    s.processor = RequireProcessor(options);
    s.memoryInit = MemoryInitOf(options.memInit);
    if (options.usb || !options.port.empty()) {
        auto connection = OpenConnection(options, s.processor);
        if (!connection) {
            return std::nullopt;
        }
        s.usb = connection->channel == 1;
        s.portIndex = s.usb ? -1 : 1;
    }
    return s;
}

// Runs "Execute" and waits for its tasks: the run bounds every wait on the target
// itself, so this only waits for it to report.
int Execute(const RunSettings& settings, ProgressMode mode) {
    CliView view(mode);
    TargetRunner runner(TargetLinks::Process(), view);
    if (!runner.Execute(settings)) {
        return kExitFailed;
    }
    while (!runner.WaitIdle(std::chrono::seconds(1))) {
    }
    return runner.LastRunSucceeded() ? kExitOk : kExitFailed;
}

int RunDownload(const RunCommandOptions& o) {
    auto settings = Prepare(o.connection);
    if (!settings) {
        return kExitFailed;
    }
    settings->operation = OperationType::DownloadOnly;
    settings->imagePath = o.image;
    settings->useDefaultAddress = o.address.empty();
    settings->addressText = o.address;
    settings->secure = o.secure;
    return Execute(*settings, ModeOf(o.connection.progress));
}

int RunFlash(const RunCommandOptions& o) {
    FlashType type = o.flashType == "nand"   ? FlashType::Nand
                     : o.flashType == "user" ? FlashType::UserInput
                                             : FlashType::Nor;
    if (type == FlashType::UserInput && o.flashLib.empty()) {
        throw UsageError("--flash-type user needs --flash-lib FILE");
    }
    auto settings = Prepare(o.connection);
    if (!settings) {
        return kExitFailed;
    }
    settings->operation = OperationType::Flashing;
    settings->imagePath = o.image;
    settings->flashType = type;
    settings->flashLibPath = o.flashLib;
    settings->partitionSizeText = o.partitionSize;
    // USER INPUT has no default address: the page unchecks the box.
    settings->useDefaultAddress = o.address.empty() && type != FlashType::UserInput;
    settings->addressText = o.address;
    settings->secure = o.secure;
    return Execute(*settings, ModeOf(o.connection.progress));
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
    s.usb = connection->channel == 1;
    s.portIndex = 1;
    s.memoryInit = choice;
    CliView view(ProgressMode::None);
    TargetRunner runner(TargetLinks::Process(), view);
    return runner.MemoryInitAlone(s) ? kExitOk : kExitFailed;
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
