// read, sekurel-status and write-reg: single boot-ROM commands, like the download
// page's debug buttons. They never run the memory initialisation.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "commands.h"
#include "connection.h"
#include "download/run/run_sequence.h"
#include "options.h"

namespace sealbench::cli {
namespace {

struct LinkCommandOptions {
    ConnectionOptions connection;
    std::string address;
    std::string value;
    std::string width = "32";
};

// The width is a decimal number of bits; a general integer reader would also take
// 0x20 as 32 and fail on a huge number without saying what is wanted.
CLI::Validator WidthValue() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return text == "8" || text == "16" || text == "32"
                       ? std::string()
                       : "the access width is 8, 16 or 32 bits, written in decimal; not " + text;
        },
        "8|16|32");
}

// Banner, then the link; nullopt after the failure has been reported.
std::optional<OpenedBoard> Start(const ConnectionOptions& options) {
    ProcessorType type = RequireProcessor(options);
    LogLine(PresetOf(type).banner);
    return OpenConnection(options, type);
}

int Fail(const Outcome& outcome) {
    std::string line = "Error! - " + outcome.message;
    if (!outcome.diagnostic.empty()) {
        line += ": " + outcome.diagnostic;
    }
    LogLine(line);
    if (!outcome.detail.empty()) {
        LogLine(outcome.detail);
    }
    return kExitFailed;
}

int RunRead(const LinkCommandOptions& o) {
    auto connection = Start(o.connection);
    if (!connection) {
        return kExitFailed;
    }
    uint32_t address = *ParseHexStrict(o.address);
    Result<uint32_t> read = ReadMemoryWord(*connection->link, address);
    if (!read.Ok()) {
        return Fail(read.outcome);
    }
    LogLine(ReadMemoryLine(address, read.value));
    return kExitOk;
}

int RunSekurelStatus(const LinkCommandOptions& o) {
    auto connection = Start(o.connection);
    if (!connection) {
        return kExitFailed;
    }
    Result<uint32_t> status = ReadSekurelStatus(*connection->link);
    if (!status.Ok()) {
        return Fail(status.outcome);
    }
    LogLine(SekurelStatusLine(status.value));
    return kExitOk;
}

int RunWriteRegister(const LinkCommandOptions& o) {
    ProcessorType type = RequireProcessor(o.connection);
    auto connection = Start(o.connection);  // the banner first, as for every target command
    if (!connection) {
        return kExitFailed;
    }
    uint32_t address = *ParseHexStrict(o.address);
    uint32_t value = *ParseHexStrict(o.value);
    bootwire::Link& link = *connection->link;
    ReceiveLimit limit(link);
    const int bits = std::stoi(o.width);
    if (bootwire::Error error =
            link.WriteRegister(address, value, static_cast<uint8_t>(bits), PresetOf(type).processorCode);
        error != bootwire::Error::Ok) {
        return Fail(
            Outcome::Failure(FailureKind::Target, "Register write failed", SilentBoardHint(error), link.ErrorDetail()));
    }
    char line[80];
    std::snprintf(line, sizeof line, "Register/Memory 0x%08x written: 0x%08x (%d bits)", address, value, bits);
    LogLine(line);
    return kExitOk;
}

}  // namespace

void AddLinkCommands(CLI::App& app, int& status) {
    auto options = std::make_shared<LinkCommandOptions>();

    CLI::App* read = app.add_subcommand("read", "Read one 32-bit word of target memory");
    read->add_option("ADDRESS", options->address, "Address (hexadecimal)")->required()->check(HexValue());
    AddConnectionOptions(read, options->connection);
    read->callback([options, &status] { status = RunRead(*options); });

    CLI::App* sekurel = app.add_subcommand("sekurel-status", "Show the boot ROM's secure-boot status");
    AddConnectionOptions(sekurel, options->connection);
    sekurel->callback([options, &status] { status = RunSekurelStatus(*options); });

    CLI::App* write = app.add_subcommand("write-reg", "Write one register");
    write->add_option("ADDRESS", options->address, "Register address (hexadecimal)")->required()->check(HexValue());
    write->add_option("VALUE", options->value, "Value (hexadecimal)")->required()->check(HexValue());
    write->add_option("--width", options->width, "Access width in bits: 8, 16 or 32")->check(WidthValue());
    AddConnectionOptions(write, options->connection);
    write->callback([options, &status] { status = RunWriteRegister(*options); });
}

}  // namespace sealbench::cli
