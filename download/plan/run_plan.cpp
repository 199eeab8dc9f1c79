#include "download/plan/run_plan.h"

#include <bootwire/bootwire.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/hex_text.h"
#include "download/plan/download_layout.h"
#include "download/plan/flash_libraries.h"

namespace sealbench {
namespace {

std::string RangeText(const AddressRange& range) {
    char text[48];
    std::snprintf(text, sizeof text, "0x%08X to 0x%08X", range.first, range.end - 1);
    return text;
}

// The files a run will read, with the text the run gives when one cannot be opened.
struct RunFile {
    const std::string* path;
    std::string_view what;
    std::string_view message;
};

}  // namespace

std::string ImageTooLargeText() {
    char text[96];
    std::snprintf(text, sizeof text, "The image file is too large: it must be at most 0x%zx bytes", kMaxImageSize);
    return text;
}

std::string CombinedImageTooSmallText() {
    char text[96];
    std::snprintf(text, sizeof text, "A combined image must be larger than 0x%x bytes with CSF HWC", kCodeOffset);
    return text;
}

std::string FileProblem(const std::string& path, std::string_view what) {
    std::string prefix = std::string(what) + " " + (path.empty() ? std::string("(none given)") : path);
    if (path.empty()) {
        return prefix + ": no file was named";
    }
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) {
        return prefix + " cannot be read: " + error.message();
    }
    if (std::filesystem::is_directory(status)) {
        return prefix + " is a folder, not a file";
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return prefix + " cannot be read: " + std::strerror(errno);
    }
    std::fclose(file);
    return {};
}

std::optional<std::string> CheckFastBaud(int baud) {
    std::string offered;
    for (int rate : bootwire::kStreamRates) offered += (offered.empty() ? "" : ", ") + std::to_string(rate);
    offered.replace(offered.rfind(", "), 2, " or ");
    if (baud < bootwire::kStreamRomBaud) {
        return "Fast serial flashing runs at 115200 baud or faster; choose " + offered;
    }
    bool exact = bootwire::kStreamUartClockBaud % baud == 0;
    if (baud > bootwire::kStreamUartClockBaud || !exact) {
        return "The board's UART cannot run at " + std::to_string(baud) + " baud (its rates are " +
               std::to_string(bootwire::kStreamUartClockBaud) + " divided by a whole number); choose " + offered;
    }
    return std::nullopt;
}

std::optional<std::string> RefuseFastSerial(const RunSettings& s, bool usb, std::string_view port) {
    if (s.flashType == FlashType::UserInput) {
        return "fast serial flashing needs a built-in flash library (NOR or NAND)";
    }
    if (usb) {
        return "fast serial flashing works over a serial port only";
    }
    if (s.secure) {
        return "fast serial flashing cannot carry HWC and CSF";
    }
    // Schemes are case-insensitive, as the port opener reads them.
    constexpr std::string_view kRaw = "socket://";
    const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    if (port.size() >= kRaw.size() &&
        std::equal(kRaw.begin(), kRaw.end(), port.begin(), [&](char a, char b) { return a == lower(b); })) {
        // A raw TCP port keeps the server's line speed: the stream could never switch it.
        return "fast serial flashing changes the line's speed, which a socket:// port cannot; use rfc2217://";
    }
    return CheckFastBaud(s.fastBaud);
}

std::optional<std::string> RefuseRanges(const RunSettings& s, bool usb, std::string_view port, std::string_view what) {
    RunSettings fast = s;
    fast.fastSerial = true;
    if (std::optional<std::string> refused = RefuseFastSerial(fast, usb, port)) {
        return std::string(what) + " works through fast serial flashing, and " + *refused;
    }
    return std::nullopt;
}

std::string PlannedRun::RefusalLine() const {
    switch (step) {
        case PlanStep::Processor:
            return refusal.message;
        case PlanStep::File:
            return "Error!!- Reason: " + refusal.message;
        case PlanStep::Page:
        default:
            return "Error! - " + refusal.message;
    }
}

namespace {

PlannedRun Refuse(PlanStep step, std::string text, std::string detail = {}) {
    PlannedRun planned;
    planned.step = step;
    planned.refusal = Outcome::Failure(step == PlanStep::File ? FailureKind::File : FailureKind::Input, std::move(text),
                                       std::move(detail));
    return planned;
}

// The files a run will read, with the text the run gives when one cannot be opened.
std::optional<PlannedRun> RefuseFiles(const RunSettings& s) {
    std::vector<RunFile> files;
    const bool knownLibrary =
        s.flashType == FlashType::Nor || s.flashType == FlashType::Nand || s.flashType == FlashType::UserInput;
    if (s.operation == OperationType::DownloadOnly) {
        files.push_back({&s.imagePath, "The image file", "Can't open image file!"});
    } else if ((s.operation == OperationType::Flashing || s.operation == OperationType::Verify) && knownLibrary) {
        // The worker asks for a flash library before it looks at the image.
        if (s.flashType == FlashType::UserInput) {
            files.push_back({&s.flashLibPath, "The flash library", "Can't open the Flash Library"});
        }
        files.push_back({&s.imagePath, "The image file", "Can't open the Image File"});
    }
    for (const RunFile& file : files) {
        if (std::string problem = FileProblem(*file.path, file.what); !problem.empty()) {
            return Refuse(PlanStep::File, std::string(file.message), problem);
        }
    }
    // The page skips a script it cannot open; a script asked for on purpose must be there.
    const MemoryInitChoice& init = s.memoryInit;
    if (init.scriptRequired && !init.ddr && !init.sdram && !init.scriptPath.empty()) {
        if (std::string problem = FileProblem(init.scriptPath, "The memory-init script"); !problem.empty()) {
            return Refuse(PlanStep::Page, "Memory init error", problem);
        }
    }
    return std::nullopt;
}

// Why `length` bytes from `address` do not lie in the flash the plan writes to;
// nullopt when they do.
std::optional<std::string> OutsideFlash(const RunPlan& plan, uint32_t address, uint64_t length, const char* what) {
    const bool nand = plan.flashType == FlashType::Nand;
    const uint64_t first = nand ? 0 : plan.preset->norFlashStart;
    const uint64_t end = first + (nand ? kNandFlashSize : kNorFlashSize);
    if (address >= first && address + length <= end) {
        return std::nullopt;
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  "The range to %s (0x%08X, 0x%llX bytes) must lie in the %s flash, %s0x%08llX to 0x%08llX", what,
                  address, static_cast<unsigned long long>(length), nand ? "NAND" : "NOR", nand ? "offsets " : "",
                  static_cast<unsigned long long>(first), static_cast<unsigned long long>(end - 1));
    return std::string(text);
}

// The checks in their order; the first that fails ends them.
PlannedRun Checked(const RunSettings& s, const RunChannel& channel) {
    if (s.processor == ProcessorType::None) {
        return Refuse(PlanStep::Processor, "Please select the Vireo version!\n");
    }
    if (s.processor == ProcessorType::VireoB && s.flashType == FlashType::Nand) {
        return Refuse(PlanStep::Processor, "VireoB not support NAND flash yet!\n");
    }
    if (!channel.chosen) {
        return Refuse(PlanStep::Page, "Please select the Com port");
    }
    RunPlan plan;
    plan.operation = s.operation;
    plan.processor = s.processor;
    plan.preset = &PresetOf(s.processor);
    plan.flashType = s.flashType;
    plan.imagePath = s.imagePath;
    plan.flashLibPath = s.flashLibPath;
    plan.secure = s.secure;
    plan.memoryInit = s.memoryInit;
    static_cast<FlashingChoices&>(plan) = s;

    std::optional<uint32_t> typed = ReadHexField(s.addressText);
    if (s.operation == OperationType::DownloadOnly && !s.useDefaultAddress && typed &&
        !plan.preset->AcceptsRamAddress(*typed)) {
        return Refuse(PlanStep::Page, "Incorrect Input Memory Address\n",
                      "The RAM application address must lie in " + RangeText(plan.preset->ramRanges[0]) + " or " +
                          RangeText(plan.preset->ramRanges[1]));
    }
    if (!s.useDefaultAddress && !typed) {
        return Refuse(PlanStep::Page, "The address must have at most 8 hexadecimal digits");
    }
    std::optional<uint32_t> partition = ReadHexField(s.partitionSizeText);
    const bool flashLike = s.operation == OperationType::Flashing || s.operation == OperationType::Verify ||
                           s.operation == OperationType::Erase;
    bool nandFlashing = flashLike && s.flashType == FlashType::Nand;
    if (nandFlashing && !partition) {
        return Refuse(PlanStep::Page, "The partition size must have at most 8 hexadecimal digits");
    }
    plan.partitionSize = nandFlashing ? *partition : 0;

    if (s.operation == OperationType::DownloadOnly) {
        plan.address = s.useDefaultAddress ? plan.preset->DefaultRamAddress() : *typed;
    } else if (s.useDefaultAddress) {
        plan.address = s.flashType == FlashType::Nor ? plan.preset->norFlashStart : 0;
    } else {
        plan.address = *typed;
    }

    const bool layout = s.operation == OperationType::Flashing && !s.layoutPath.empty();
    // Verify, Erase and layouts work through the built-in library's ranges.
    const bool ranged = layout || s.operation == OperationType::Verify || s.operation == OperationType::Erase;
    if (ranged) {
        const char* what = s.operation == OperationType::Verify  ? "Verify"
                           : s.operation == OperationType::Erase ? "Erase"
                                                                 : "A layout";
        if (std::optional<std::string> refused = RefuseRanges(s, channel.usb, channel.port, what)) {
            return Refuse(PlanStep::Page, *refused);
        }
        if (!HaveBuiltinFlashLibraries()) {
            return Refuse(PlanStep::Page, "The built-in flash library is not available in this build");
        }
    }
    if (layout) {
        Result<FlashLayout> loaded = LoadLayout(s.layoutPath, s.flashType);
        if (!loaded.Ok()) {
            return Refuse(PlanStep::Page, loaded.outcome.message, loaded.outcome.detail);
        }
        plan.layout = std::move(loaded.value);
        plan.imagePath.clear();
        plan.imageSize = static_cast<size_t>(plan.layout->TotalBytes());
        const LayoutImage& first = plan.layout->images.front();
        plan.address = s.flashType == FlashType::Nor ? plan.preset->norFlashStart + first.offset : first.offset;
        if (!plan.layout->memInitScript.empty()) {
            plan.memoryInit = {false, false, plan.layout->memInitScript, true};
        }
    } else if (s.operation == OperationType::Erase) {
        std::optional<uint32_t> length = ReadHexField(s.eraseLengthText);
        if (!s.eraseLengthText.empty() && (!length || *length == 0)) {
            return Refuse(PlanStep::Page, "The length to erase must be 1 to 8 hexadecimal digits, not 0");
        }
        if (s.eraseLengthText.empty()) {
            // The window erases where its image would go.
            length = static_cast<uint32_t>(FileSizeOf(s.imagePath).value_or(0));
            if (*length == 0) {
                return Refuse(PlanStep::File, "Can't open the Image File", FileProblem(s.imagePath, "The image file"));
            }
        }
        plan.eraseLength = *length;
        if (std::optional<std::string> outside = OutsideFlash(plan, plan.address, plan.eraseLength, "erase")) {
            return Refuse(PlanStep::Page, *outside);
        }
    } else if (s.operation != OperationType::None) {
        if (std::optional<size_t> size = FileSizeOf(s.imagePath)) {
            if (*size > kMaxImageSize) {
                return Refuse(PlanStep::Page, ImageTooLargeText());
            }
            if (*size == 0) {
                return Refuse(PlanStep::Page, "The image file is empty");
            }
            if (s.operation == OperationType::DownloadOnly && s.secure && *size <= kCodeOffset) {
                return Refuse(PlanStep::Page, CombinedImageTooSmallText());
            }
            plan.imageSize = *size;
        }
        if (std::optional<PlannedRun> files = RefuseFiles(s)) {
            return *files;
        }
        if (s.operation == OperationType::Verify) {
            if (std::optional<std::string> outside = OutsideFlash(plan, plan.address, plan.imageSize, "verify")) {
                return Refuse(PlanStep::Page, *outside);
            }
        }
    }

    // The fast mode serves what it can and leaves the rest to the normal run, as the
    // window's menu item does; a rate the board cannot make is refused.
    const bool builtin = s.flashType == FlashType::Nor || s.flashType == FlashType::Nand;
    plan.fastSerial =
        ranged || (s.fastSerial && s.operation == OperationType::Flashing && builtin && !channel.usb && !s.secure);
    if (plan.fastSerial && !ranged) {
        if (std::optional<std::string> refused = RefuseFastSerial(s, false, channel.port)) {
            refused->front() = static_cast<char>(std::toupper(static_cast<unsigned char>(refused->front())));
            return Refuse(PlanStep::Page, *refused);
        }
        if (!HaveBuiltinFlashLibraries()) {
            return Refuse(PlanStep::Page, "The built-in flash library is not available in this build");
        }
    }
    PlannedRun planned;
    planned.plan = std::move(plan);
    return planned;
}

}  // namespace

PlannedRun PlanRun(const RunSettings& s, RunChannel channel) {
    PlannedRun planned = Checked(s, channel);
    planned.processor = s.processor;
    return planned;
}

}  // namespace sealbench
