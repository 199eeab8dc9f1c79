// station: the factory line from the command line. Every --slot is watched on its
// own; a board that arrives in one is flashed at once with the flash options, its
// verdict printed as it ends, and the slot waits for it to leave before the next.
// Everything the options can get wrong is refused before any slot is watched.
#include <cstdlib>
#include <iostream>

#include "cli_view.h"
#include "commands.h"
#include "common/version.h"
#include "flash_options.h"
#include "station/junit_report.h"
#include "station/station.h"
#include "station_console.h"
#include "terminal.h"

namespace sealbench::cli {
namespace {

constexpr auto kShowInterval = std::chrono::milliseconds(250);
constexpr int kMaxCount = 1'000'000;

struct StationOptions {
    ConnectionOptions connection;
    std::string image;
    FlashOptions flash;
    std::vector<std::string> slots;
    int count = 0;
    std::string record;
    std::string junit;
    std::string identity;
    std::string resetSequence;
    std::string afterSequence;
};

template <typename T>
T Checked(Result<T> result, const std::string& option) {
    if (!result.Ok()) throw UsageError(option + ": " + result.outcome.message);
    return std::move(result.value);
}

// The settings of the station, checked as bad usage where the options say two
// things at once or cannot be read.
StationSettings SettingsOf(const StationOptions& o) {
    StationSettings s;
    s.run = FlashSettingsOf(o.connection, o.flash, o.image);
    s.places = Checked(ParseSlotPlaces(o.slots), "--slot");
    bool serial = false;
    const char* simulated = std::getenv("BOOTWIRE_USB_SIM");
    for (const SlotPlace& place : s.places) {
        CheckFastOptions(o.flash, s.run, place.IsUsb(), place.IsUsb() ? std::string() : place.text);
        serial = serial || !place.IsUsb();
        // Without the folder no virtual board can ever appear there: the slot would wait for ever.
        if (place.kind == SlotPlace::Kind::VirtualUsb && (simulated == nullptr || *simulated == '\0')) {
            throw UsageError("--slot " + place.text +
                             ": a virtual board's place needs BOOTWIRE_USB_SIM=FOLDER, the folder of its socket");
        }
    }
    if (!o.identity.empty()) s.identity = Checked(ParseIdentitySpec(o.identity), "--identity");
    if (!o.resetSequence.empty()) s.resetSequence = Checked(ParseControlSequence(o.resetSequence), "--reset-sequence");
    if (!o.afterSequence.empty()) s.afterSequence = Checked(ParseControlSequence(o.afterSequence), "--after-sequence");
    if (!serial && (!o.resetSequence.empty() || !o.afterSequence.empty())) {
        throw UsageError(
            "--reset-sequence and --after-sequence play DTR and RTS on serial slots; every slot here is USB");
    }
    s.count = o.count;
    s.keepRecords = !o.junit.empty();
    s.toolVersion = kProjectVersion;
    return s;
}

void PrintRefusal(const Outcome& outcome) {
    std::cerr << outcome.message << "\n";
    if (!outcome.detail.empty()) std::cerr << outcome.detail << "\n";
}

std::string Describe(const Station& station, const StationOptions& o) {
    std::string text = "station: " + std::to_string(o.slots.size()) + " slot" + (o.slots.size() == 1 ? "" : "s") +
                       ", image " + o.image + " (" + std::to_string(station.ImageBytes()) + " bytes, SHA-256 " +
                       station.ImageSha256() + ")";
    text += o.count > 0
                ? "; ends after " + std::to_string(o.count) + (o.count == 1 ? " board" : " boards") + " or on Ctrl-C"
                : "; Ctrl-C ends it";
    return text;
}

int RunStation(const StationOptions& o) {
    StationSettings settings = SettingsOf(o);
    const ProgressMode mode = ProgressModeOf(o.connection.progress);
    const JunitRun emptyRun{"sealbench station", std::chrono::system_clock::now(), 0, kProjectVersion};
    // A report that cannot be written is found now, not after the shift: an empty one is there from the start.
    if (!o.junit.empty()) {
        if (Outcome written = WriteJunitReport(o.junit, emptyRun, {}); !written.Ok()) {
            PrintRefusal(written);
            return kExitFailed;
        }
    }
    if (!o.record.empty()) {
        Result<std::unique_ptr<RecordFile>> record = RecordFile::Open(o.record);
        if (!record.Ok()) {
            PrintRefusal(record.outcome);
            return kExitFailed;
        }
        settings.record = std::move(record.value);
    }
    StationConsole console(mode);
    Result<std::unique_ptr<Station>> created = Station::Create(std::move(settings), console);
    if (!created.Ok()) {
        PrintRefusal(created.outcome);
        return kExitFailed;
    }
    Station& station = *created.value;
    console.Note(Describe(station, o));

    CatchInterrupt();
    station.Start();
    bool stopping = false;
    while (!station.Wait(kShowInterval)) {
        if (Interrupted() && !stopping) {
            stopping = true;
            console.Note("Stopping the station: a board in progress fails as stopped (Ctrl-C again quits at once)");
            station.Stop();
        }
        console.Show(station.Snapshot());
    }
    console.Finish();

    const std::chrono::duration<double> running = station.Running();
    std::vector<std::string> summary = station.Figures().SummaryLines(running);
    const std::string counts = summary.back();
    summary.pop_back();
    for (const std::string& line : summary) std::cerr << line << "\n";
    bool ok = station.Figures().Totals().failed == 0;
    if (std::string problem = station.Problem(); !problem.empty()) {
        std::cerr << problem << "\n";
        ok = false;
    }
    if (!o.junit.empty()) {
        const JunitRun run{"sealbench station", station.Started(), running.count(), kProjectVersion};
        if (Outcome written = WriteJunitReport(o.junit, run, station.Records()); !written.Ok()) {
            PrintRefusal(written);
            ok = false;
        }
    }
    std::cerr.flush();
    LogLine(counts);
    return ok ? kExitOk : kExitFailed;
}

}  // namespace

void AddStationCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<StationOptions>();
    CLI::App* station = app.add_subcommand(
        "station", "The factory line: flash each board the moment it arrives in a slot, and keep the record");
    station->footer(
        "\nA PLACE is a serial port path (it need not exist yet: a USB serial adapter appears with its board),\n"
        "rfc2217://HOST:PORT or socket://HOST:PORT, a USB location as 'sealbench-cli ports' lists it (1-2.3),\n"
        "or a virtual board's sim:NAME. A serial slot holds a board while its path exists and the boot ROM\n"
        "answers; a USB slot while a boot device is at its location. Nothing is sent to a place no --slot names.\n"
        "Each board that ends prints one line on standard output:\n"
        "  PLACE: OK IDENTITY        (IDENTITY: the --identity bytes in hex, else the USB serial string, else PLACE)\n"
        "  PLACE: FAILED - REASON\n"
        "and then the slot waits for the board to leave. SIGINT/SIGTERM (Ctrl-C) or --count N ends the station;\n"
        "a board in progress then fails as stopped. The last line is \"boards: N, passed: P, failed: F, ...\".\n"
        "Exit status 0 when no board failed, 1 otherwise, 2 for bad usage.\n"
        "SEQ: steps joined by '|': D0/D1 set DTR, R0/R1 set RTS, W<ms> waits, as in D0|R1|W100|D1|R0|W50|D0.");
    station->add_option("IMAGE", options->image, "Image to write to every board's flash")->required();
    station->add_option("--slot", options->slots, "A slot's PLACE (repeat it for every slot)")
        ->required()
        ->type_name("PLACE");
    AddFlashOptions(station, options->flash);
    AddRunChoices(station, options->connection);
    station->add_option("--count", options->count, "End after N boards")
        ->check(CLI::Range(1, kMaxCount))
        ->type_name("N");
    station
        ->add_option("--record", options->record,
                     "Append one JSON line per board to FILE, synced before the board's line is printed")
        ->type_name("FILE");
    station->add_option("--junit", options->junit, "Write a JUnit XML report of the boards to FILE")->type_name("FILE");
    station
        ->add_option(
            "--identity", options->identity,
            "Read LENGTH bytes (HEX, at most 40: 64 bytes) at ADDRESS through the boot ROM as the board's identity")
        ->type_name("ADDRESS:LENGTH");
    station
        ->add_option("--reset-sequence", options->resetSequence,
                     "DTR/RTS steps played on a serial slot after opening it (into boot mode)")
        ->type_name("SEQ");
    station
        ->add_option("--after-sequence", options->afterSequence,
                     "DTR/RTS steps played on a serial slot after its board flashed (into its firmware)")
        ->type_name("SEQ");
    station->callback([options, &status] { status = RunStation(*options); });
}

}  // namespace sealbench::cli
