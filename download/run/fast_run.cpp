#include "download/run/fast_run.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

#include "download/plan/download_layout.h"
#include "download/plan/flash_libraries.h"
#include "download/run/range_run.h"

namespace sealbench {
namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
    return text;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (!line.empty()) text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

Outcome StreamFailure(const bootwire::Link& link, bootwire::Error error, const bootwire::StreamReport& report, int baud,
                      std::string_view rateChoice) {
    const std::string diagnostic = Joined(report.diagnostics);
    if (error == bootwire::Error::Stopped) {
        // A stop during the stream leaves part of the image in flash.
        const std::string text =
            report.reached >= bootwire::StreamStage::Connecting ? link.ErrorDetail() : std::string(kStoppedText);
        return Outcome::Failure(FailureKind::Stopped, text, {}, diagnostic);
    }
    switch (report.reached) {
        case bootwire::StreamStage::Loading:
            return Outcome::Failure(FailureKind::Target, "Downloading Error, Exit without Flashing\n",
                                    SilentBoardHint(error), Joined({link.ErrorDetail(), diagnostic}));
        case bootwire::StreamStage::Starting:
            return Outcome::Failure(FailureKind::Target,
                                    "Download code or the Flash Program can't be executed, Check the SekurelType\n",
                                    SilentBoardHint(error), Joined({link.ErrorDetail(), diagnostic}));
        default:
            break;
    }
    std::string text = link.ErrorDetail();
    if (report.slowerMayHelp) {
        text += " Try a lower " + std::string(rateChoice) + " (" + LowerRates(baud) + ")";
    }
    std::string hint;
    if (error == bootwire::Error::Gone) {
        hint = SilentBoardHint(error);
    } else if (report.reached == bootwire::StreamStage::Connecting && error == bootwire::Error::NoAnswer &&
               !report.slowerMayHelp) {
        hint = std::string(kNeverAnsweredHint);  // the library did not say hello: it may not run on this board
    }
    return Outcome::Failure(FailureKind::Target, text, hint, diagnostic);
}

}  // namespace

std::string LowerRates(int baud) {
    std::string text;
    for (int rate : bootwire::kStreamRates) {
        if (rate >= baud || rate == bootwire::kStreamRomBaud) continue;
        text += text.empty() ? std::to_string(rate) : " or " + std::to_string(rate);
    }
    return text.empty() ? std::to_string(bootwire::kStreamRomBaud) : text;
}

std::optional<BuiltinStream> MakeBuiltinStream(ProcessorType processor, FlashType flashType, uint32_t flashAddress,
                                               uint32_t partitionSize, std::span<const uint8_t> image, int baud) {
    BuiltinStream stream;
    stream.area.assign(kImageOffset, 0);
    const size_t used = CopyBuiltinFlashLibrary(processor, flashType, stream.area.data(), kParameterOffset);
    if (used <= kCodeOffset + kApplicationHead) {
        return std::nullopt;
    }
    const ProcessorPreset& preset = PresetOf(processor);
    WriteParameterBlock(stream.area.data(), MakeParameterBlock(preset, flashType, flashAddress, partitionSize,
                                                               static_cast<uint32_t>(image.size()), 0));
    const std::span<const uint8_t> area(stream.area);
    stream.job.ramBase = preset.ramBase;
    stream.job.library = area.subspan(kCodeOffset, used - kCodeOffset);
    stream.job.parameterBlock = area.subspan(kParameterOffset, kImageOffset - kParameterOffset);
    stream.job.image = image;
    stream.job.baud = baud;
    stream.job.lineMode = static_cast<bootwire::LineMode>(preset.lineMode);
    return stream;
}

Outcome StreamOutcome(const bootwire::Link& link, bootwire::Error error, const bootwire::StreamReport& report, int baud,
                      std::string_view rateChoice, size_t imageSize) {
    if (error != bootwire::Error::Ok) {
        return StreamFailure(link, error, report, baud, rateChoice);
    }
    Outcome outcome = Outcome::Success("Flashing Completed\n");
    outcome.detail = "Image verified: the flash holds CRC-32 " + Hex(report.flashCrc) + ", as the image (" +
                     std::to_string(imageSize) + " bytes)";
    outcome.diagnostic = Joined(report.diagnostics);
    return outcome;
}

Outcome FastFlashing(bootwire::Link& link, const RunPlan& plan, RunObserver& observer) {
    return RangedRun(link, plan, observer);
}

}  // namespace sealbench
