#include "download/page/page_model.h"

namespace sealbench {
namespace {

constexpr std::string_view kRamLabel = "RAM Appl Start at 0x";
constexpr std::string_view kFlashStartLabel = "Flash Start at 0x";
constexpr std::string_view kNandCaption = "Flash offset 0x00000000";
constexpr std::string_view kNandLabel = "Flash offset 0x";

FlashType FlashTypeOfIndex(int index) {
    switch (index) {
        case 1:
            return FlashType::Nand;
        case 2:
            return FlashType::UserInput;
        default:
            return FlashType::Nor;
    }
}

}  // namespace

void PageModel::SetFlashCaptions() {
    const ProcessorPreset& preset = PresetOf(processor_);
    switch (flashType_) {
        case FlashType::UserInput:
            c_.flashLibEnabled = true;
            c_.defaultCaption = preset.userCaption;
            c_.addressLabel = kFlashStartLabel;
            c_.defaultBox = false;
            c_.addressEnabled = true;
            c_.defaultBoxEnabled = false;
            break;
        case FlashType::Nand:
            c_.defaultCaption = kNandCaption;
            c_.addressLabel = kNandLabel;
            break;
        default:
            c_.defaultCaption = preset.norCaption;
            c_.addressLabel = kFlashStartLabel;
            break;
    }
}

void PageModel::ClickDownloadOnly() {
    c_.downloadOnly = !c_.downloadOnly;
    if (!c_.downloadOnly) {
        return;
    }
    c_.flashing = false;
    c_.defaultBox = true;
    if (processor_ != ProcessorType::None) {
        c_.defaultCaption = PresetOf(processor_).ramCaption;
    }
    c_.addressLabel = kRamLabel;
    c_.addressText.clear();
    c_.addressEnabled = false;
    c_.flashTypeEnabled = false;
    c_.defaultBoxEnabled = true;
}

void PageModel::ClickFlashing() {
    c_.flashing = !c_.flashing;
    flashType_ = FlashTypeOfIndex(confirmedFlashIndex_);
    if (!c_.flashing) {
        return;
    }
    c_.downloadOnly = false;
    c_.defaultBox = true;
    SetFlashCaptions();
    c_.flashTypeEnabled = true;
}

void PageModel::SelectFlashType(int index) {
    c_.flashTypeIndex = index;
    ExchangeData();
    if (index < 0 || index > 2) {
        return;
    }
    c_.defaultBox = true;
    c_.addressEnabled = false;
    c_.defaultBoxEnabled = true;
    flashType_ = FlashTypeOfIndex(index);
    c_.partitionEnabled = false;
    SetFlashCaptions();
    if (flashType_ == FlashType::Nand) {
        c_.flashLibEnabled = false;
        c_.partitionEnabled = true;
    } else if (flashType_ == FlashType::Nor) {
        c_.flashLibEnabled = false;
    }
}

void PageModel::ClickDefaultBox() {
    c_.defaultBox = !c_.defaultBox;
    if (c_.defaultBox) {
        c_.addressEnabled = false;
        c_.addressText.clear();
    } else if (!c_.secure) {
        c_.addressEnabled = true;
    }
}

void PageModel::ClickSecure() {
    c_.secure = !c_.secure;
    if (c_.secure && flashType_ != FlashType::UserInput) {
        c_.addressEnabled = false;
        c_.defaultBox = true;
    } else {
        c_.addressEnabled = true;
    }
}

void PageModel::ClickDdr() {
    c_.ddr = !c_.ddr;
    if (c_.ddr) {
        c_.sdram = false;
    }
    c_.memoryInitEnabled = !c_.ddr && !c_.sdram;
}

void PageModel::ClickSdram() {
    c_.sdram = !c_.sdram;
    if (c_.sdram) {
        c_.ddr = false;
    }
    c_.memoryInitEnabled = !c_.ddr && !c_.sdram;
}

void PageModel::ChooseImage(const std::string& path) {
    c_.imagePath = path;
    ExchangeData();
}

void PageModel::ChooseFlashLibrary(const std::string& path) {
    c_.flashLibPath = path;
    ExchangeData();
}

void PageModel::ChooseMemoryInitFile(const std::string& path) {
    c_.memoryInitPath = path;
    ExchangeData();
}

void PageModel::SelectProcessor(int index) {
    if (index < 0 || index > 2) {
        return;
    }
    processor_ = static_cast<ProcessorType>(index);
    const ProcessorPreset& preset = PresetOf(processor_);
    c_.defaultCaption = preset.ramCaption;
    c_.sdramEnabled = preset.hasSdramPreset;
    if (flashType_ == FlashType::Nand) {
        c_.defaultCaption = kNandCaption;
        c_.addressLabel = kNandLabel;
    }
}

RunSettings PageModel::Settings() const {
    RunSettings s;
    s.processor = processor_;
    s.operation = c_.downloadOnly ? OperationType::DownloadOnly
                  : c_.flashing   ? OperationType::Flashing
                                  : OperationType::None;
    s.useDefaultAddress = c_.defaultBox;
    s.addressText = c_.addressText;
    s.imagePath = c_.imagePath;
    s.flashType = flashType_;
    s.flashLibPath = c_.flashLibPath;
    s.partitionSizeText = c_.partitionText;
    s.secure = c_.secure;
    s.memoryInit = {c_.ddr, c_.sdram, c_.memoryInitPath};
    return s;
}

RunSettings PageModel::WindowSettings(bool fastSerial, int fastBaud) const {
    RunSettings s = Settings();
    s.fastSerial = fastSerial;
    s.fastBaud = fastBaud;
    s.rateChoice = "rate in the Window menu's \"Fast serial flashing rate\"";
    return s;
}

PortChoice ChoosePort(int index, ProcessorType processor) {
    PortChoice choice;
    if (index < 0) {
        choice.resetToEmpty = true;
        return choice;
    }
    if (processor == ProcessorType::None) {
        choice.message = "Please select the Vireo version";
        choice.resetToEmpty = true;
        return choice;
    }
    choice.open = true;
    choice.portText = std::to_string(index);
    choice.lineMode = PresetOf(processor).lineMode;
    return choice;
}

std::string StatusTimeoutCaption(int seconds) {
    return seconds == 0 ? "As the library needs (20 s built-in, 5 min user)" : std::to_string(seconds / 60) + " min";
}

std::string LayoutCaption(const std::string& path) {
    if (path.empty()) return "Flash layout...";
    const size_t slash = path.find_last_of("/\\");
    return "Flash layout: " + (slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace sealbench
