#include "flash_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "common/file_checks.h"
#include "download/plan/run_plan.h"
#include "options.h"

namespace sealbench::cli {

void AddFlashOptions(CLI::App* command, FlashOptions& options) {
    command->add_option("--flash-type", options.flashType, "nor (default) | nand | user")
        ->check(CLI::IsMember({"nor", "nand", "user"}));
    command->add_option("--flash-lib", options.flashLib, "Flash library file (with --flash-type user)");
    command->add_option("--address", options.address, "Flash start address, or the offset for NAND")->check(HexValue());
    command->add_option("--partition-size", options.partitionSize, "NAND partition size")->check(HexValue());
    command->add_flag("--secure", options.secure, "with CSF HWC: the flash library carries HWC and CSF");
    command->add_flag("--fast", options.fast,
                      "Fast serial flashing: the built-in library streams the image compressed at --baud and "
                      "verifies it (serial port only)");
    command->add_option("--baud", options.baud, "Rate of --fast: 921600 (default) | 460800 | 230400 | 115200");
    command->add_flag("--full", options.full,
                      "With --fast: send every block; without it only the blocks whose content differs from the "
                      "flash go, so a run that was cut off resumes where it stopped");
    command
        ->add_option("--layout", options.layout,
                     "A TOML file naming several images and where each goes, written in one session of the "
                     "built-in library (fast serial flashing)")
        ->type_name("FILE");
    command
        ->add_option("--status-timeout", options.statusTimeout,
                     "How long the flash library may stay silent while it flashes, in seconds (default: 20 for "
                     "the built-in libraries, which answer all along; 300 for a user's, which may not answer "
                     "through a chip erase)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
}

void AddRangeOptions(CLI::App* command, FlashOptions& options, const char* addressHelp) {
    command->add_option("--flash-type", options.flashType, "nor (default) | nand")
        ->check(CLI::IsMember({"nor", "nand"}));
    if (addressHelp != nullptr) command->add_option("--address", options.address, addressHelp)->check(HexValue());
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

RunSettings FlashSettingsOf(const ConnectionOptions& connection, const FlashOptions& flash, const std::string& image) {
    const FlashType type = FlashTypeOf(flash.flashType);
    if (type == FlashType::UserInput && flash.flashLib.empty()) {
        throw UsageError("--flash-type user needs --flash-lib FILE");
    }
    RunSettings s;
    s.processor = RequireProcessor(connection);
    s.memoryInit = MemoryInitOf(connection.memInit);
    s.operation = OperationType::Flashing;
    s.imagePath = image;
    s.flashType = type;
    s.flashLibPath = flash.flashLib;
    s.partitionSizeText = flash.partitionSize;
    // USER INPUT has no default address: the page unchecks the box.
    s.useDefaultAddress = flash.address.empty() && type != FlashType::UserInput;
    s.addressText = flash.address;
    s.secure = flash.secure;
    s.fastSerial = flash.fast || !flash.layout.empty();
    s.fastBaud = flash.baud != -1 ? flash.baud : bootwire::kStreamDefaultBaud;
    s.everyBlock = flash.full;
    s.layoutPath = flash.layout;
    if (flash.statusTimeout != -1) s.statusSilenceLimit = std::chrono::seconds(flash.statusTimeout);
    return s;
}

void CheckFastOptions(const FlashOptions& flash, const RunSettings& settings, bool usb, const std::string& port) {
    if (flash.statusTimeout != -1 && (flash.fast || !flash.layout.empty())) {
        throw UsageError(
            "--status-timeout bounds the status polling of a run without --fast (a fast run's stream keeps its "
            "own bounds)");
    }
    if (!flash.layout.empty()) {
        // A layout is always written in one session of the built-in library.
        if (std::optional<std::string> refused = RefuseRanges(settings, usb, port, "--layout")) {
            throw UsageError(*refused);
        }
        return;
    }
    if (!flash.fast) {
        if (flash.baud != -1) {
            throw UsageError("--baud sets the rate of fast serial flashing: use it with --fast");
        }
        if (flash.full) {
            throw UsageError("--full sends every block in fast serial flashing: use it with --fast");
        }
        return;
    }
    if (std::optional<std::string> refused = RefuseFastSerial(settings, usb, port)) {
        if (flash.baud != -1 && CheckFastBaud(flash.baud)) {
            throw UsageError("--baud " + std::to_string(flash.baud) + ": " + *refused);
        }
        throw UsageError("--fast: " + *refused + "; flash without --fast");
    }
}

}  // namespace sealbench::cli
