#include "several_boards.h"

#include <bootwire/bootwire.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>

#include "board_views.h"
#include "commands.h"
#include "terminal.h"

namespace sealbench::cli {
namespace {

constexpr const char* kUsbAllWord = "--usb-all";
constexpr int kMaxRetries = 100;

}  // namespace

Arguments::Arguments(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--usb" && i + 1 < argc && std::string(argv[i + 1]) == "all") {
            words_.push_back(kUsbAllWord);
            ++i;
        } else {
            words_.push_back(argv[i]);
        }
    }
    for (const std::string& word : words_) pointers_.push_back(word.c_str());
}

void AddBoardOptions(CLI::App* command, BoardOptions& options) {
    // Every --port names one more board; the options keep the last, the boards come from the parse.
    if (CLI::Option* port = command->get_option_no_throw("--port")) {
        port->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        port->description(port->get_description() + " (repeat it for several boards)");
    }
    command->add_option("--usb-device", options.usbDevices,
                        "The USB boot device at LOCATION, as 'sealbench-cli ports' lists it (repeatable); "
                        "'--usb all' takes every USB boot device found");
    command->add_flag(kUsbAllWord, options.usbAll)->group("");
    command->add_option("--retry", options.retry, "Run a failed board again, up to N more times")
        ->check(CLI::Range(0, kMaxRetries))
        ->type_name("N");
}

std::vector<BoardAddress> BoardsOf(const CLI::App& command, const ConnectionOptions& connection,
                                   const BoardOptions& options) {
    const CLI::Option* portOption = command.get_option_no_throw("--port");
    const CLI::Option* deviceOption = command.get_option_no_throw("--usb-device");
    const bool named = (portOption && portOption->count() > 0) || !options.usbDevices.empty();
    if (options.usbAll && (named || connection.usb)) {
        throw UsageError("--usb all takes every USB boot device; leave out --port, --usb-device and --usb");
    }
    if (connection.usb && !options.usbDevices.empty()) {
        throw UsageError("--usb takes the first USB boot device; name devices with --usb-device alone");
    }
    if (connection.usb && portOption && portOption->count() > 1) {
        throw UsageError("--usb together with --port: choose one channel per board");
    }

    std::vector<BoardAddress> boards;
    // --usb with --retry: the first device by its location, so that every try finds the same board.
    const bool firstUsb = connection.usb && options.retry > 0 && !named;
    if (options.usbAll || firstUsb) {
        for (const bootwire::PortInfo& port : bootwire::ListPorts()) {
            if (port.kind == bootwire::PortInfo::Kind::UsbBoot)
                boards.push_back({UsbBoardName(port.name), true, port.name});
        }
        if (boards.empty()) {
            std::cerr << kNoUsbMessage << "\n";
        }
        if (firstUsb && boards.size() > 1) {
            // Every try must find the same board, and nobody chose one of these.
            std::string names;
            for (const BoardAddress& board : boards) names += (names.empty() ? "" : ", ") + board.name;
            std::cerr << boards.size() << " USB boot devices are connected: " << names
                      << "\nName the board with --usb-device LOCATION, or run every one with --usb all.\n";
            boards.clear();
        }
        return boards;
    }
    // The order of the command line, across both options.
    size_t nextPort = 0;
    size_t nextDevice = 0;
    const std::vector<std::string> ports = portOption ? portOption->results() : std::vector<std::string>{};
    for (const CLI::Option* option : command.parse_order()) {
        if (option == portOption && nextPort < ports.size()) {
            const std::string& port = ports[nextPort++];
            boards.push_back({port, false, port});
        } else if (option == deviceOption && nextDevice < options.usbDevices.size()) {
            const std::string& location = options.usbDevices[nextDevice++];
            boards.push_back({UsbBoardName(location), true, location});
        }
    }
    // Two spellings of one port (a by-id link and its device node, localhost and
    // 127.0.0.1) are one board: counting it twice would run it twice at once.
    std::set<std::string> seen;
    for (const BoardAddress& board : boards) {
        if (board.port.empty()) throw UsageError("--port and --usb-device need a name: " + board.name);
        std::vector<std::string> names =
            board.usb ? std::vector<std::string>{"usb:" + board.port} : bootwire::PortIdentities(board.port);
        if (std::any_of(names.begin(), names.end(), [&](const std::string& name) { return seen.count(name) > 0; })) {
            throw UsageError("The same board is named twice: " + board.name);
        }
        seen.insert(names.begin(), names.end());
    }
    return boards;
}

int RunBoards(const std::vector<BoardAddress>& boards, const RunSettings& settings, int retries, ProgressMode mode) {
    const bool several = boards.size() > 1;
    std::vector<std::string> names;
    for (const BoardAddress& board : boards) names.push_back(board.name);
    BoardsConsole console(several ? mode : ProgressMode::None, names);
    // One board with retries prints as a one-board run does.
    CliView single(mode);

    CatchInterrupt();
    std::vector<std::unique_ptr<BoardRun>> runs;
    for (size_t i = 0; i < boards.size(); ++i) {
        runs.push_back(std::make_unique<BoardRun>(boards[i], several ? console.ViewOf(i) : single, several));
    }
    std::vector<const BoardRun*> followed;
    for (const auto& run : runs) followed.push_back(run.get());
    if (several) console.Follow(followed);
    for (const auto& run : runs) run->Start(settings, retries);

    bool stopping = false;
    for (const auto& run : runs) {
        while (!run->Wait(std::chrono::milliseconds(100))) {
            if (Interrupted() && !stopping) {
                stopping = true;
                console.Note(several ? "Stopping every board (press Ctrl-C again to quit at once)"
                                     : "Stopping the run (press Ctrl-C again to quit at once)");
                for (const auto& each : runs) each->Stop();
            }
        }
    }
    console.Finish();

    bool allSucceeded = !stopping;
    std::vector<BoardStatus> results;
    for (const auto& run : runs) {
        results.push_back(run->Status());
        allSucceeded = allSucceeded && results.back().state == BoardState::Succeeded;
    }
    if (several) {
        // Figures for people on standard error; the verdicts, one line a board, for scripts on
        // standard output.
        size_t width = 0;
        for (const auto& name : names) width = std::max(width, name.size());
        for (size_t i = 0; i < runs.size(); ++i)
            std::fprintf(stderr, "%s\n", FiguresLine(names[i], width, results[i]).c_str());
        std::fflush(stderr);
        for (size_t i = 0; i < runs.size(); ++i) LogLine(SummaryLine(names[i], results[i]));
    } else if (results[0].earlierTryTouchedFlash) {
        // The last try may have failed before it reached the flash; an earlier one did.
        std::fprintf(stderr, "An earlier try ran the flash library: the flash may hold part of the image\n");
    }
    return allSucceeded ? kExitOk : kExitFailed;
}

}  // namespace sealbench::cli
