#include "run_common.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "common/file_checks.h"
#include "options.h"

namespace sealbench::cli {

void AddFlashOptions(CLI::App* command, FlashOptions& options, bool userLibrary, const char* address) {
    command
        ->add_option("--flash-type", options.flashType,
                     userLibrary ? "nor (default) | nand | user" : "nor (default) | nand")
        ->check(userLibrary ? CLI::IsMember({"nor", "nand", "user"}) : CLI::IsMember({"nor", "nand"}));
    if (address != nullptr) command->add_option("--address", options.address, address)->check(HexValue());
    command->add_option("--partition-size", options.partitionSize, "NAND partition size")->check(HexValue());
    command->add_option("--baud", options.baud,
                        "Rate of the fast serial session: 921600 (default) | 460800 | 230400 | 115200");
}

FlashType FlashTypeOf(const std::string& name) {
    return name == "nand" ? FlashType::Nand : name == "user" ? FlashType::UserInput : FlashType::Nor;
}

MemoryInitChoice MemoryInitOf(const std::string& mode) {
    if (mode == "ddr") return {true, false, {}};
    if (mode == "sdram") return {false, true, {}};
    if (mode == "none") return {false, false, {}};
    // The page runs a script it cannot open as "nothing to do"; on a command line
    // the path was given on purpose, so whatever keeps it from being read stops the
    // command, with the reason, before the board is touched.
    std::error_code error;
    if (std::filesystem::status(mode, error).type() == std::filesystem::file_type::not_found) {
        throw UsageError("--mem-init: no such memory-init script: " + mode +
                         " (use ddr, sdram, none or the path of a script)");
    }
    if (auto refusal = RefuseNonRegularInput(mode)) {
        throw UsageError("--mem-init: " + *refusal);
    }
    std::FILE* script = std::fopen(mode.c_str(), "rb");
    if (script == nullptr) {
        throw UsageError("--mem-init: cannot read the memory-init script " + mode + ": " + std::strerror(errno));
    }
    std::fclose(script);
    return {false, false, mode, true};
}

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
