// A run's settings turned into a plan once: the texts parsed, the numbers and the
// image checked, in the order "Execute" checks them. The sequence that talks to the
// board takes the plan and never reads a text again.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/outcome.h"
#include "presets.h"
#include "run_settings.h"

namespace sealbench {

struct RunPlan {
    OperationType operation = OperationType::None;
    ProcessorType processor = ProcessorType::None;
    const ProcessorPreset* preset = nullptr;
    // DOWNLOAD only: the RAM application address. FLASHING: the flash start address
    // (NOR, USER INPUT) or the offset (NAND).
    uint32_t address = 0;
    FlashType flashType = FlashType::Nor;
    uint32_t partitionSize = 0;  // NAND; 0: to the end of the device
    std::string imagePath;
    size_t imageSize = 0;  // as the file system told at the check; 0 when it could not tell
    std::string flashLibPath;
    bool secure = false;  // "with CSF HWC"
    MemoryInitChoice memoryInit;
    bool fastSerial = false;
    int fastBaud = 921600;
    std::chrono::milliseconds statusSilenceLimit{20000};
    std::chrono::milliseconds flashingTimeLimit{std::chrono::minutes(30)};
};

// The first two checks of "Execute", before the banner: the line to log as it is when
// the processor type forbids the run, nullopt when it may go on.
std::optional<std::string_view> RefuseProcessor(const RunSettings& settings);

// The remaining checks, made before anything goes to the target: the typed RAM
// application address against the processor's ranges, the hexadecimal texts, the
// image's size. A failure's message is what "Execute" logs through "Error! - %s".
Result<RunPlan> MakeRunPlan(const RunSettings& settings);

// What stops a file from being read, as a line for the user naming the file and the
// system's reason ("The image file /x.bin cannot be read: No such file or
// directory"); empty when it can be read. `what` names the file's role.
std::string FileProblem(const std::string& path, std::string_view what);

// Every file the run will read (the image, a user's flash library, a memory-init
// script), checked before anything is sent: a failure carries the message the run
// itself would give, and the file's problem as its detail.
Outcome CheckRunFiles(const RunSettings& settings);

// The texts of the refusals that are not the system's own: the image and the
// combined image's sizes.
std::string ImageTooLargeText();
std::string CombinedImageTooSmallText();

}  // namespace sealbench
