#include "download/run/fast_run.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

#include "download/plan/download_layout.h"
#include "download/plan/flash_libraries.h"

namespace sealbench {
namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
    return text;
}

// Follows the stream's reports and passes on each change once.
class ProgressRelay {
public:
    explicit ProgressRelay(RunObserver& observer) : observer_(observer) {}

    void operator()(const bootwire::StreamProgress& p) {
        if (!started_) {
            started_ = true;
            observer_.DownloadStarted(p.loadSize, static_cast<uint32_t>(p.imageSize));
        }
        if (p.loadBytes > sent_) {
            observer_.BytesSent(static_cast<size_t>(p.loadBytes - sent_));
            sent_ = p.loadBytes;
        }
        if (p.stage >= bootwire::StreamStage::Connecting && !flashing_) {
            flashing_ = true;
            observer_.FlashingDownloadDone();
            observer_.FlashingStarted();
            observer_.FlashWritten(0);
        }
        if (!flashing_) {
            return;
        }
        const unsigned stage = StageOf(p.stage);
        if (stage != 0 && (stagesSeen_ & stage) == 0) {
            stagesSeen_ |= stage;
            // Each stage counts from nothing, and the count is back at nothing before
            // the stage shows, so that no look sees the last stage's count in it.
            written_ = 0;
            observer_.FlashWritten(0);
            observer_.StageEntered(stage);
        }
        // While verifying the count starts again: the bytes read back.
        if (p.bytesProgrammed != written_) {
            written_ = p.bytesProgrammed;
            observer_.FlashWritten(written_);
        }
    }

private:
    static unsigned StageOf(bootwire::StreamStage stage) {
        switch (stage) {
            case bootwire::StreamStage::Erasing:
                return kStageErasing;
            case bootwire::StreamStage::Programming:
                return kStageProgramming;
            case bootwire::StreamStage::Verifying:
                return kStageVerifying;
            default:
                return 0;
        }
    }

    RunObserver& observer_;
    bool started_ = false;
    bool flashing_ = false;
    unsigned stagesSeen_ = 0;
    uint64_t sent_ = 0;
    uint64_t written_ = 0;
};

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

Outcome FastFlashing(bootwire::Link& link, const RunPlan& plan, RunObserver& observer,
                     bootwire::StreamReport* reportOut) {
    std::vector<uint8_t> image(plan.imageSize);
    if (plan.imageSize == 0 || !ReadWholeFile(plan.imagePath, image.data(), image.size())) {
        return Outcome::Failure(FailureKind::File, "Can't open the Image File",
                                FileProblem(plan.imagePath, "The image file"));
    }
    // Only the library and its parameter block cross the slow line; the image stays on the host.
    std::optional<BuiltinStream> stream =
        MakeBuiltinStream(plan.processor, plan.flashType, plan.address, plan.partitionSize, image, plan.fastBaud);
    if (!stream) {
        return Outcome::Failure(FailureKind::File, "The built-in flash library is not available in this build");
    }
    ProgressRelay relay(observer);
    bootwire::StreamReport report;
    const bootwire::Error error = link.StreamFlash(stream->job, std::ref(relay), &report);
    if (reportOut) *reportOut = report;
    Outcome outcome = StreamOutcome(link, error, report, plan.fastBaud, plan.rateChoice, image.size());
    if (report.libraryState == kStateEraseFailed && outcome.detail.empty()) {
        outcome.detail = RefusedAddressHint(plan);
    }
    return outcome;
}

}  // namespace sealbench
