// What the download page hands to a run: the processor chosen in the main window
// and the page's own fields, taken at the moment "Execute" is pressed, and the board
// the front end has opened for it.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "download/plan/presets.h"

namespace bootwire {
class Link;
}

namespace sealbench {

// Verify and Erase work through the built-in flash library's ranges (fast serial
// flashing's session): they compare the flash with the image, or erase a range.
enum class OperationType { None, DownloadOnly, Flashing, Verify, Erase };

// The "Memory Init" group: the DDR and SDRAM boxes and the script field.
struct MemoryInitChoice {
    bool ddr = true;
    bool sdram = false;
    std::string scriptPath;  // used when neither box is checked; empty skips the step
    // The page skips a script it cannot open; a command line that was given the path
    // on purpose fails instead.
    bool scriptRequired = false;
};

// The board a run talks to, chosen and owned by the front end: the window hands the
// port or USB device the user picked, sealbench-cli the link it opened.
struct BoardLink {
    bootwire::Link* link = nullptr;  // nullptr: no serial port chosen yet
    bool usb = false;                // the channel: the log's "USB is using", the flash library's report channel
    // Finds the USB device again before a run that follows a FLASHING download (the
    // board comes back as a new device) and returns the link to use now (nullptr:
    // none found); empty where nothing needs finding again.
    std::function<bootwire::Link*()> reenumerate;
};

// How a FLASHING run goes once the flash library runs: the settings ask for it, the
// plan keeps what applies.
struct FlashingChoices {
    // Fast serial flashing: FLASHING runs with a built-in library over a serial port
    // stream the image at `fastBaud` once the library runs; other runs ignore it.
    bool fastSerial = false;
    int fastBaud = 921600;
    // How the front end names the rate, for the advice to choose a lower one.
    std::string rateChoice = "--baud";
    // Fast serial flashing sends only the blocks whose content differs from the
    // flash; with this, every block (one deflate stream, nothing compared first).
    bool everyBlock = false;

    // How long the flash library may stay silent before the run gives up on it;
    // 0: as its kind of library needs (StatusSilenceLimit, run_sequence.h).
    std::chrono::milliseconds statusSilenceLimit{0};
    // The longest a flashing run may take once the flash library runs.
    std::chrono::milliseconds flashingTimeLimit{std::chrono::minutes(30)};
};

struct RunSettings : FlashingChoices {
    // Shared setting of the main window.
    ProcessorType processor = ProcessorType::None;

    // The page's fields.
    OperationType operation = OperationType::DownloadOnly;
    bool useDefaultAddress = true;
    std::string addressText;  // hexadecimal, at most 8 digits
    std::string imagePath;
    FlashType flashType = FlashType::Nor;
    std::string flashLibPath;       // USER INPUT only
    std::string partitionSizeText;  // NAND only
    bool secure = false;            // "with CSF HWC"
    MemoryInitChoice memoryInit;
    // FLASHING: a layout file (download/plan/flash_layout.h) that names several
    // images, written in one session of the built-in library; the image, address and
    // partition fields are not used then.
    std::string layoutPath;
    // Erase: how many bytes from the address (hexadecimal); the sectors or blocks
    // that cover them are erased.
    std::string eraseLengthText;
};

}  // namespace sealbench
