// read, sekurel-status and write-reg: single boot-ROM commands, like the download
// page's debug buttons. They never run the memory initialisation.
#include <cinttypes>
#include <cstdio>

#include "commands.h"
#include "connection.h"
#include "options.h"

namespace sealbench::cli {
namespace {

struct LinkCommandOptions {
    ConnectionOptions connection;
    std::string address;
    std::string value;
    int width = 32;
};

// Banner, then the link; nullopt after the failure has been reported.
std::optional<Connection> Start(const ConnectionOptions& options) {
    ProcessorType type = RequireProcessor(options);
    LogLine(PresetOf(type).banner);
    return OpenConnection(options, type);
}

int Fail(const bootwire::Link& link, std::string_view what) {
    std::string line = "Error! - ";
    line += what;
    if (!link.ErrorDetail().empty()) {
        line += ": " + link.ErrorDetail();
    }
    LogLine(line);
    return kExitFailed;
}

int RunRead(const LinkCommandOptions& o) {
    auto connection = Start(o.connection);
    if (!connection) {
        return kExitFailed;
    }
    uint32_t address = *ParseHex(o.address);
    uint8_t bytes[4] = {};
    if (connection->link->ReadData(address, bytes, sizeof bytes, 32) != bootwire::Error::Ok) {
        return Fail(*connection->link, "Read failed");
    }
    uint32_t word = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    char line[64];
    std::snprintf(line, sizeof line, "Register/Memory 0x%08x : 0x%08x", address, word);
    LogLine(line);
    return kExitOk;
}

int RunSekurelStatus(const LinkCommandOptions& o) {
    auto connection = Start(o.connection);
    if (!connection) {
        return kExitFailed;
    }
    uint32_t word = 0;
    if (connection->link->GetStatus(&word) != bootwire::Error::Ok) {
        return Fail(*connection->link, "Sekurel status failed");
    }
    char line[64];
    std::snprintf(line, sizeof line, "Init Sekurel status from ROM: 0x%x", word & 0xFF);
    LogLine(line);
    return kExitOk;
}

int RunWriteRegister(const LinkCommandOptions& o) {
    ProcessorType type = RequireProcessor(o.connection);
    auto connection = Start(o.connection);  // the banner first, as for every target command
    if (!connection) {
        return kExitFailed;
    }
    uint32_t address = *ParseHex(o.address);
    uint32_t value = *ParseHex(o.value);
    if (connection->link->WriteRegister(address, value, static_cast<uint8_t>(o.width), PresetOf(type).processorCode) !=
        bootwire::Error::Ok) {
        return Fail(*connection->link, "Register write failed");
    }
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
    write->add_option("--width", options->width, "Access width in bits: 8, 16 or 32")
        ->check(CLI::IsMember({8, 16, 32}));
    AddConnectionOptions(write, options->connection);
    write->callback([options, &status] { status = RunWriteRegister(*options); });
}

}  // namespace sealbench::cli
