#include "run_plan.h"

#include <cstdio>

#include "common/hex_text.h"
#include "download_layout.h"

namespace sealbench {
namespace {

Result<RunPlan> Refused(std::string text) { return {Outcome::Failure(FailureKind::Input, std::move(text)), {}}; }

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
    plan.statusSilenceLimit = s.statusSilenceLimit;
    plan.flashingTimeLimit = s.flashingTimeLimit;

    std::optional<uint32_t> typed = ReadHexField(s.addressText);
    if (s.operation == OperationType::DownloadOnly && !s.useDefaultAddress && typed &&
        !plan.preset->AcceptsRamAddress(*typed)) {
        return Refused("Incorrect Input Memory Address\n");
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
