#include "run_plan.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/hex_text.h"
#include "download_layout.h"

namespace sealbench {
namespace {

Result<RunPlan> Refused(std::string text, std::string detail = {}) {
    return {Outcome::Failure(FailureKind::Input, std::move(text), std::move(detail)), {}};
}

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

std::optional<std::string_view> RefuseProcessor(const RunSettings& s) {
    if (s.processor == ProcessorType::None) {
        return "Please select the Vireo version!\n";
    }
    if (s.processor == ProcessorType::VireoB && s.flashType == FlashType::Nand) {
        return "VireoB not support NAND flash yet!\n";
    }
    return std::nullopt;
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

Outcome CheckRunFiles(const RunSettings& s) {
    std::vector<RunFile> files;
    if (s.operation == OperationType::DownloadOnly) {
        files.push_back({&s.imagePath, "The image file", "Can't open image file!"});
    } else if (s.operation == OperationType::Flashing) {
        if (s.flashType == FlashType::UserInput) {
            files.push_back({&s.flashLibPath, "The flash library", "Can't open the Flash Library"});
        }
        files.push_back({&s.imagePath, "The image file", "Can't open the Image File"});
    }
    for (const RunFile& file : files) {
        if (std::string problem = FileProblem(*file.path, file.what); !problem.empty()) {
            return Outcome::Failure(FailureKind::File, std::string(file.message), problem);
        }
    }
    const MemoryInitChoice& init = s.memoryInit;
    if (!init.ddr && !init.sdram && !init.scriptPath.empty()) {
        if (std::string problem = FileProblem(init.scriptPath, "The memory-init script"); !problem.empty()) {
            return Outcome::Failure(FailureKind::File, "Memory init error", problem);
        }
    }
    return Outcome::Success();
}

Result<RunPlan> MakeRunPlan(const RunSettings& s) {
    RunPlan plan;
    plan.operation = s.operation;
    plan.processor = s.processor;
    plan.preset = &PresetOf(s.processor);
    plan.flashType = s.flashType;
    plan.imagePath = s.imagePath;
    plan.flashLibPath = s.flashLibPath;
    plan.secure = s.secure;
    plan.memoryInit = s.memoryInit;
    plan.fastSerial = s.fastSerial;
    plan.fastBaud = s.fastBaud;
    plan.statusSilenceLimit = s.statusSilenceLimit;
    plan.flashingTimeLimit = s.flashingTimeLimit;

    std::optional<uint32_t> typed = ReadHexField(s.addressText);
    if (s.operation == OperationType::DownloadOnly && !s.useDefaultAddress && typed &&
        !plan.preset->AcceptsRamAddress(*typed)) {
        return Refused("Incorrect Input Memory Address\n", "The RAM application address must lie in " +
                                                               RangeText(plan.preset->ramRanges[0]) + " or " +
                                                               RangeText(plan.preset->ramRanges[1]));
    }
    if (!s.useDefaultAddress && !typed) {
        return Refused("The address must have at most 8 hexadecimal digits");
    }
    std::optional<uint32_t> partition = ReadHexField(s.partitionSizeText);
    bool nandFlashing = s.operation == OperationType::Flashing && s.flashType == FlashType::Nand;
    if (nandFlashing && !partition) {
        return Refused("The partition size must have at most 8 hexadecimal digits");
    }
    plan.partitionSize = nandFlashing ? *partition : 0;

    if (s.operation == OperationType::DownloadOnly) {
        plan.address = s.useDefaultAddress ? plan.preset->DefaultRamAddress() : *typed;
    } else if (s.useDefaultAddress) {
        plan.address = s.flashType == FlashType::Nor ? plan.preset->norFlashStart : 0;
    } else {
        plan.address = *typed;
    }

    if (s.operation != OperationType::DownloadOnly && s.operation != OperationType::Flashing) {
        return {Outcome::Success(), plan};
    }
    std::optional<size_t> size = FileSizeOf(s.imagePath);
    if (!size) {
        return {Outcome::Success(), plan};  // the run reports a file it cannot open
    }
    if (*size > kMaxImageSize) {
        return Refused(ImageTooLargeText());
    }
    if (*size == 0) {
        return Refused("The image file is empty");
    }
    if (s.operation == OperationType::DownloadOnly && s.secure && *size <= kCodeOffset) {
        return Refused(CombinedImageTooSmallText());
    }
    plan.imageSize = *size;
    return {Outcome::Success(), plan};
}

}  // namespace sealbench
