#include "run_common.h"

#include "commands.h"

namespace sealbench::cli {

RunSettings SettingsOf(const ConnectionOptions& options) {
    RunSettings settings;
    settings.processor = RequireProcessor(options);
    settings.memoryInit = MemoryInitOf(options.memInit);
    return settings;
}

// Each board is planned, opened and run by a BoardRun of its own: a missing image
// or a wrong address is refused before a port is opened or a memory
// initialisation is spent.
int RunOnBoards(const CLI::App& command, const ConnectionOptions& connection, const BoardOptions& options,
                const RunSettings& settings) {
    std::vector<BoardAddress> boards = BoardsOf(command, connection, options);
    ProgressMode mode = ProgressModeOf(connection.progress);
    if ((options.usbAll || (connection.usb && options.retry > 0)) && boards.empty()) {
        return kExitFailed;
    }
    if (boards.empty()) {
        if (std::optional<BoardAddress> board = BoardOf(connection)) {
            boards.push_back(*board);
        } else {
            boards.push_back({});  // no port: "Execute" says "Please select the Com port"
        }
    }
    return RunBoards(boards, settings, options.retry, mode);
}

}  // namespace sealbench::cli
