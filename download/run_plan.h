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

// The texts of the refusals that are not the system's own: the image and the
// combined image's sizes.
std::string ImageTooLargeText();
std::string CombinedImageTooSmallText();

}  // namespace sealbench
