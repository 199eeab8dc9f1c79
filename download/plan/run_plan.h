// A run's settings turned into a plan once: the texts parsed, the numbers, the
// files and the fast-mode choices checked, in the order "Execute" checks them. The
// sequence that talks to the board takes the plan and never reads a text again.
// The run core plans (Runner, BoardRun); front ends hand it their settings.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/outcome.h"
#include "download/plan/flash_layout.h"
#include "download/plan/presets.h"
#include "download/plan/run_settings.h"

namespace sealbench {

struct RunPlan : FlashingChoices {
    OperationType operation = OperationType::None;
    ProcessorType processor = ProcessorType::None;
    const ProcessorPreset* preset = nullptr;
    // DOWNLOAD only: the RAM application address. FLASHING: the flash start address
    // (NOR, USER INPUT) or the offset (NAND).
    uint32_t address = 0;
    FlashType flashType = FlashType::Nor;
    uint32_t partitionSize = 0;  // NAND; 0: to the end of the device
    std::string imagePath;
    size_t imageSize = 0;  // as the file system told at the check
    std::string flashLibPath;
    bool secure = false;  // "with CSF HWC"
    MemoryInitChoice memoryInit;
    // fastSerial: the run streams the image through the built-in library (FLASHING,
    // serial port, asked for, a built-in library, no HWC and CSF; always for Verify,
    // Erase and a layout).
    // FLASHING a layout: its images, checked (imagePath is empty, imageSize their sum
    // and address the first's flash address).
    std::optional<FlashLayout> layout;
    uint32_t eraseLength = 0;  // Erase: bytes from `address`
};

// What the run will talk to, as far as the plan must know: whether a port or
// device was chosen, and whether it is the USB boot device.
struct RunChannel {
    bool chosen = false;
    bool usb = false;
    std::string port;  // a serial port as named, where it is known
};

// Where a refused plan stands in the checks of "Execute", which decides how its
// line is logged.
enum class PlanStep {
    Processor,  // logged as it is, before the banner (which stays pending)
    Page,       // a field or the channel: "Error! - %s"
    File,       // a file the run reads: "Error!!- Reason: %s", as the worker says it
};

struct PlannedRun {
    ProcessorType processor = ProcessorType::None;  // for the banner, also of a refused run
    std::optional<RunPlan> plan;                    // the checked plan, or nullopt with the refusal
    PlanStep step = PlanStep::Page;
    Outcome refusal;  // message: the system's text; detail: the further line (a file's problem, a range)

    bool Ok() const { return plan.has_value(); }
    // The refusal's status-log line, prefix included.
    std::string RefusalLine() const;
};

// The checks of "Execute", in its order: the processor type, the channel, the typed
// address and the hexadecimal texts, the image's size, every file the run reads,
// and the fast mode's choices. Touches no board.
PlannedRun PlanRun(const RunSettings& settings, RunChannel channel);

// Why fast serial flashing cannot be asked for with these settings over this
// channel (a user's flash library, USB, HWC and CSF, a rate the board's UART cannot
// make, a network port without line control); nullopt when it can. A command line
// refuses such options as bad usage before it plans.
std::optional<std::string> RefuseFastSerial(const RunSettings& settings, bool usb, std::string_view port = {});

// Why Verify, Erase or a layout cannot run with these settings over this channel
// (they work through the built-in library's ranges, like fast serial flashing);
// nullopt when they can. `what` names the operation ("verify").
std::optional<std::string> RefuseRanges(const RunSettings& settings, bool usb, std::string_view port,
                                        std::string_view what);

// Whether the board's UART makes the rate (115200 up to 921600, an exact divisor of
// its clock): the reason, or nullopt.
std::optional<std::string> CheckFastBaud(int baud);

// What stops a file from being read, as a line for the user naming the file and the
// system's reason ("The image file /x.bin cannot be read: No such file or
// directory"); empty when it can be read. `what` names the file's role.
std::string FileProblem(const std::string& path, std::string_view what);

// The texts of the refusals that are not the system's own: the image and the
// combined image's sizes.
std::string ImageTooLargeText();
std::string CombinedImageTooSmallText();

}  // namespace sealbench
