// download and flash on one board or several at once: the options that name them
// (--port given several times, --usb-device LOCATION, --usb all), --retry, and the
// run of every board on its own thread with its output, Ctrl-C and summary.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli_view.h"
#include "connection.h"
#include "download/board/board_run.h"
#include "download/plan/run_settings.h"

namespace sealbench::cli {

struct BoardOptions {
    std::vector<std::string> usbDevices;
    bool usbAll = false;
    int retry = 0;
};

// Adds --usb-device and --retry to a command that has the connection options, lets
// its --port be given several times, and takes "--usb all".
void AddBoardOptions(CLI::App* command, BoardOptions& options);

// The boards a parsed command names, in the order given on the command line; --usb
// all (and --usb with --retry) is looked up here. Throws UsageError for the same
// board twice and for combinations that say two things at once. Empty: nothing was
// named, or the USB look-up found no device (the message has been printed).
std::vector<BoardAddress> BoardsOf(const CLI::App& command, const ConnectionOptions& connection,
                                   const BoardOptions& options);

// Runs `settings` on every board at once (one board prints as a one-board run
// does) and, with several, prints the summary: exit status 0 when every board
// succeeded, else 1 (also after Ctrl-C or a termination request, which stop every
// board at its next send or receive).
int RunBoards(const std::vector<BoardAddress>& boards, const RunSettings& settings, int retries, ProgressMode mode);

// argv with "--usb all" as one word, so that "--usb IMAGE" keeps meaning the first
// USB device and an image. Hands CLI11 the rewritten arguments.
class Arguments {
public:
    Arguments(int argc, char** argv);
    int argc() const { return static_cast<int>(pointers_.size()); }
    const char* const* argv() const { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<const char*> pointers_;
};

}  // namespace sealbench::cli
