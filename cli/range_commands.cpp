// verify and erase: the built-in flash library's ranges from the command line.
// verify compares the flash at the image's place with the image by the library's
// block digests and writes nothing (exit 0 equal, 1 with a "differs:" line per
// differing range); erase erases the sectors or blocks that cover a range. Both run
// through the run core as flash does (one board or several, progress, Ctrl-C).
#include "commands.h"
#include "download/plan/run_plan.h"
#include "options.h"
#include "run_common.h"

namespace sealbench::cli {
namespace {

struct RangeCommandOptions {
    ConnectionOptions connection;
    FlashOptions flash;
    BoardOptions boards;
    std::string image;
    std::string address;  // erase: the range's start
    std::string length;
};

RunSettings RangeSettings(const RangeCommandOptions& o, OperationType operation, const char* what) {
    RunSettings s = SettingsOf(o.connection);
    s.operation = operation;
    s.flashType = FlashTypeOf(o.flash.flashType);
    s.partitionSizeText = o.flash.partitionSize;
    s.fastSerial = true;
    s.fastBaud = o.flash.baud != -1 ? o.flash.baud : bootwire::kStreamDefaultBaud;
    const bool usb = o.connection.usb || o.boards.usbAll || !o.boards.usbDevices.empty();
    if (std::optional<std::string> refused = RefuseRanges(s, usb, o.connection.port, what)) {
        throw UsageError(*refused);
    }
    return s;
}

int RunVerify(const CLI::App& command, const RangeCommandOptions& o) {
    RunSettings s = RangeSettings(o, OperationType::Verify, "verify");
    s.imagePath = o.image;
    s.useDefaultAddress = o.flash.address.empty();
    s.addressText = o.flash.address;
    return RunOnBoards(command, o.connection, o.boards, s);
}

int RunErase(const CLI::App& command, const RangeCommandOptions& o) {
    RunSettings s = RangeSettings(o, OperationType::Erase, "erase");
    s.useDefaultAddress = false;
    s.addressText = o.address;
    s.eraseLengthText = o.length;
    return RunOnBoards(command, o.connection, o.boards, s);
}

}  // namespace

void AddRangeCommands(CLI::App& app, int& status) {
    auto options = std::make_shared<RangeCommandOptions>();

    CLI::App* verify = app.add_subcommand(
        "verify", "Compare the flash with an image by the flash library's block digests; nothing is written");
    verify->add_option("IMAGE", options->image, "Image the flash should hold")->required();
    AddRangeOptions(verify, options->flash, "Flash start address, or the offset for NAND (default: as flash)");
    AddConnectionOptions(verify, options->connection);
    AddBoardOptions(verify, options->boards);
    verify->footer(
        "Exit status 0 when the flash equals the image; 1 when it differs, with a line\n"
        "'differs: 0xSTART-0xEND' for each range of 4 KiB blocks that differs (the last byte included).");
    verify->callback([verify, options, &status] { status = RunVerify(*verify, *options); });

    CLI::App* erase = app.add_subcommand("erase", "Erase the flash sectors or NAND blocks that cover a range");
    erase->add_option("ADDRESS", options->address, "Start: a NOR flash address, or a NAND offset")
        ->required()
        ->check(HexValue());
    erase->add_option("LENGTH", options->length, "Bytes from ADDRESS")->required()->check(HexValue());
    AddRangeOptions(erase, options->flash, nullptr);
    AddConnectionOptions(erase, options->connection);
    AddBoardOptions(erase, options->boards);
    erase->callback([erase, options, &status] { status = RunErase(*erase, *options); });
}

}  // namespace sealbench::cli
