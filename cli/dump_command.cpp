// dump: target memory (RAM, or NOR flash through its memory window) read back into
// a file, with progress. The bytes go to the file's temporary copy as they arrive,
// so memory does not grow with the length; the file appears only when every byte
// arrived, and then whole. "-" streams them to standard output instead, the
// status-log lines then going to standard error. Like the debug commands it never
// runs the memory initialisation.
#include <cstdio>

#include "cli_view.h"
#include "commands.h"
#include "common/atomic_file.h"
#include "connection.h"
#include "download/memory/memory_dump.h"
#include "options.h"
#include "terminal.h"

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
constexpr const char* kStandardOutput = "-";

// Where the bytes go: a file that appears whole or not at all, or standard output.
class DumpOutput {
public:
    // nullptr with the reason in `error`.
    static std::unique_ptr<DumpOutput> Open(const std::string& path, std::string& error) {
        auto output = std::unique_ptr<DumpOutput>(new DumpOutput);
        if (path == kStandardOutput) {
            output->stream_ = TakeStdoutForData();
            if (!output->stream_) error = "standard output cannot take binary data";
        } else {
            output->file_ = AtomicFile::Create(path, error);
        }
        return output->stream_ || output->file_ ? std::move(output) : nullptr;
    }
    ~DumpOutput() {
        if (stream_) std::fclose(stream_);
    }
    DumpOutput(const DumpOutput&) = delete;
    DumpOutput& operator=(const DumpOutput&) = delete;

    std::string Write(std::span<const uint8_t> bytes) {
        if (file_) return file_->Write(bytes) ? std::string() : file_->Error();
        return std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size() ? std::string()
                                                                                   : "standard output refused the data";
    }
    // The file replaces its target; empty, or why it did not.
    std::string Finish() {
        if (file_) return file_->Commit() ? std::string() : file_->Error();
        return std::fflush(stream_) == 0 ? std::string() : "standard output refused the data";
    }

private:
    DumpOutput() = default;
    std::unique_ptr<AtomicFile> file_;
    std::FILE* stream_ = nullptr;
};

int RunDump(const DumpOptions& o) {
    ProcessorType type = RequireProcessor(o.connection);
    uint32_t address = *ParseHexStrict(o.address);
    uint32_t length = *ParseHexStrict(o.length);
    if (length == 0 || static_cast<uint64_t>(address) + length > 0x100000000ull) {
        throw UsageError("dump: LENGTH must be 1 or more and ADDRESS + LENGTH must stay within 32 bits");
    }
    std::string why;
    auto output = DumpOutput::Open(o.output, why);
    LogLine(PresetOf(type).banner);
    if (!output) {
        LogLine("Error! - Cannot write " + o.output + ": " + why);
        return kExitFailed;
    }
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
    auto sink = [&output](std::span<const uint8_t> piece) { return output->Write(piece); };
    Outcome read = ReadMemoryBlock(*connection->link, address, length, sink, progress);
    if (!read.Ok()) {
        view.RunEnded(false);
        LogLine("Error! - " + read.message);
        if (!read.detail.empty()) {
            LogLine(read.kind == FailureKind::File ? "Cannot write " + o.output + ": " + read.detail : read.detail);
        }
        view.Diagnostic(read.diagnostic);
        return kExitFailed;
    }
    ProgressClock::time_point end = ProgressClock::now();
    meter.Finish(end);
    view.SetProgressFigures(meter.Figures(start, end));
    view.RunEnded(true);

    if (std::string failed = output->Finish(); !failed.empty()) {
        LogLine("Error! - Cannot write " + o.output + ": " + failed);
        return kExitFailed;
    }
    char line[160];
    std::snprintf(line, sizeof line, "Memory 0x%08x to 0x%08x saved to ", address,
                  static_cast<uint32_t>(address + (length - 1)));
    LogLine(line + (o.output == kStandardOutput ? std::string("standard output") : o.output));
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
    dump->add_option("-o,--output", options->output,
                     "The file to write, whole once every byte arrived; - for standard output")
        ->required();
    AddConnectionOptions(dump, options->connection);
    dump->callback([options, &status] { status = RunDump(*options); });
}

}  // namespace sealbench::cli
