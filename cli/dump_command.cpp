// dump: target memory (RAM, or NOR flash through its memory window) read back into
// a file, with progress. The file is written only when every byte arrived, and then
// whole. Like the debug commands it never runs the memory initialisation.
#include <cstdio>

#include "cli_view.h"
#include "commands.h"
#include "common/atomic_file.h"
#include "connection.h"
#include "download/memory/memory_dump.h"
#include "options.h"

namespace sealbench::cli {
namespace {

struct DumpOptions {
    ConnectionOptions connection;
    std::string address;
    std::string length;
    std::string output;
};

constexpr auto kFiguresInterval = std::chrono::milliseconds(250);
constexpr const char* kCaption = "Reading:";

int RunDump(const DumpOptions& o) {
    ProcessorType type = RequireProcessor(o.connection);
    uint32_t address = *ParseHexStrict(o.address);
    uint32_t length = *ParseHexStrict(o.length);
    if (length == 0 || static_cast<uint64_t>(address) + length > 0x100000000ull) {
        throw UsageError("dump: LENGTH must be 1 or more and ADDRESS + LENGTH must stay within 32 bits");
    }
    LogLine(PresetOf(type).banner);
    auto connection = OpenConnection(o.connection, type);
    if (!connection) {
        return kExitFailed;
    }

    CliView view(ProgressModeOf(o.connection.progress));
    RateMeter meter;
    ProgressClock::time_point start = ProgressClock::now();
    ProgressClock::time_point shown = start;
    meter.Start(kCaption, length, start);
    view.SetProgressCaption(kCaption);
    view.SetProgressRange(0, length);
    view.SetProgressPosition(0);
    view.SetProgressFigures(meter.Figures(start, start));
    auto progress = [&](uint64_t done) {
        ProgressClock::time_point now = ProgressClock::now();
        meter.Update(done, now);
        view.SetProgressPosition(static_cast<int64_t>(done));
        if (now - shown >= kFiguresInterval) {
            shown = now;
            view.SetProgressFigures(meter.Figures(start, now));
        }
    };
    Result<std::vector<uint8_t>> read = ReadMemoryBlock(*connection->link, address, length, progress);
    if (!read.Ok()) {
        view.RunEnded(false);
        LogLine("Error! - " + read.outcome.message);
        if (!read.outcome.detail.empty()) {
            LogLine(read.outcome.detail);
        }
        view.Diagnostic(read.outcome.diagnostic);
        return kExitFailed;
    }
    ProgressClock::time_point end = ProgressClock::now();
    meter.Finish(end);
    view.SetProgressFigures(meter.Figures(start, end));
    view.RunEnded(true);

    if (Outcome written = WriteFileAtomically(o.output, read.value); !written.Ok()) {
        LogLine("Error! - Cannot write " + o.output + ": " + written.message);
        return kExitFailed;
    }
    char line[160];
    std::snprintf(line, sizeof line, "Memory 0x%08x to 0x%08x saved to ", address,
                  static_cast<uint32_t>(address + (length - 1)));
    LogLine(line + o.output);
    ProgressFigures figures = meter.Figures(start, end);
    std::fprintf(stderr, "Read %s (%u bytes) from 0x%x in %s%s\n", FormatBytes(length).c_str(), length, address,
                 FormatDuration(figures.phaseElapsed).c_str(),
                 figures.rate > 0 ? (" (" + FormatRate(figures.rate) + ")").c_str() : "");
    return kExitOk;
}

}  // namespace

void AddDumpCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<DumpOptions>();
    CLI::App* dump = app.add_subcommand("dump", "Read target memory (or NOR flash) back into a file");
    dump->add_option("ADDRESS", options->address, "First address (hexadecimal)")->required()->check(HexValue());
    dump->add_option("LENGTH", options->length, "Number of bytes (hexadecimal)")->required()->check(HexValue());
    dump->add_option("-o,--output", options->output, "The file to write; written only when every byte arrived")
        ->required();
    AddConnectionOptions(dump, options->connection);
    dump->callback([options, &status] { status = RunDump(*options); });
}

}  // namespace sealbench::cli
