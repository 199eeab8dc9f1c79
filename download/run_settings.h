// What the download page hands to a run: the shared settings of the main window
// and the page's own fields, taken at the moment "Execute" is pressed.
#pragma once

#include <chrono>
#include <string>

#include "presets.h"

namespace sealbench {

enum class OperationType { None, DownloadOnly, Flashing };

// The "Memory Init" group: the DDR and SDRAM boxes and the script field.
struct MemoryInitChoice {
    bool ddr = true;
    bool sdram = false;
    std::string scriptPath;  // used when neither box is checked; empty skips the step
};

struct RunSettings {
    // Shared settings of the main window.
    ProcessorType processor = ProcessorType::None;
    int portIndex = -1;  // -1: no serial port chosen
    bool usb = false;

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

    // How long the flash library may stay silent before the run gives up on it.
    std::chrono::milliseconds statusSilenceLimit{20000};
    // The longest a flashing run may take once the flash library runs.
    std::chrono::milliseconds flashingTimeLimit{std::chrono::minutes(30)};
};

}  // namespace sealbench
