// The flash options that `flash` and `station` share (--flash-type, --flash-lib,
// --address, --partition-size, --secure, --fast, --baud, --full, --layout), the
// part of them that `verify` and `erase` take, and the run settings they and the
// connection options make, checked as far as a command line can before a board is
// touched.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "connection.h"
#include "download/plan/run_settings.h"

namespace sealbench::cli {

struct FlashOptions {
    std::string address;
    bool secure = false;
    std::string flashType = "nor";
    std::string flashLib;
    std::string partitionSize;
    bool fast = false;
    int baud = -1;           // -1: not given
    bool full = false;       // every block, not only the changed ones
    std::string layout;      // a TOML file of several images
    int statusTimeout = -1;  // seconds; -1: as the flash library needs
};

void AddFlashOptions(CLI::App* command, FlashOptions& options);
// What verify and erase take: --flash-type nor|nand, --partition-size, --baud, and
// --address when `addressHelp` describes it.
void AddRangeOptions(CLI::App* command, FlashOptions& options, const char* addressHelp);

FlashType FlashTypeOf(const std::string& name);

// --mem-init's choice; a script that cannot be read is a UsageError.
MemoryInitChoice MemoryInitOf(const std::string& mode);

// The settings the page would hold for a FLASHING run of `image` (or of the layout)
// with these options; throws UsageError for --flash-type user without --flash-lib
// and a missing --cpu.
RunSettings FlashSettingsOf(const ConnectionOptions& connection, const FlashOptions& flash, const std::string& image);

// Fast serial flashing (and a layout, always written that way) takes over a serial
// line with a built-in library; whatever else was asked for with it (USB, a port
// without line control...) is a UsageError, and so are --baud and --full without it.
void CheckFastOptions(const FlashOptions& flash, const RunSettings& settings, bool usb, const std::string& port);

}  // namespace sealbench::cli
