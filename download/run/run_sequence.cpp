#include "download/run/run_sequence.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "download/plan/download_layout.h"
#include "download/plan/flash_libraries.h"
#include "download/run/fast_run.h"
#include "download/run/status_words.h"

namespace sealbench {
namespace {

using Clock = std::chrono::steady_clock;

// A link that fails at once (a device that went away) must not be hammered.
constexpr auto kPollRetryPause = std::chrono::milliseconds(50);
constexpr auto kFlashingStartPause = std::chrono::milliseconds(10);

Outcome Reason(std::string text, FailureKind kind = FailureKind::Target) {
    return Outcome::Failure(kind, std::move(text));
}

Outcome Reason(std::string text, const bootwire::Link& link, bootwire::Error error) {
    return LinkFailure(std::move(text), link, error);
}

// Waits `pause` unless a stop is requested first; true when it was.
bool PauseUnlessStopped(std::stop_token stop, std::chrono::milliseconds pause) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, pause, [] { return false; });
    return stop.stop_requested();
}

std::string Format(const char* format, uint32_t value) {
    char text[160];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The HWC and CSF windows ahead of a secure image. The boot ROM decides on the
// image; the windows' own results say nothing more than a diagnostic.
void SendSecurityWindows(bootwire::Link& link, uint32_t ramBase, const uint8_t* data, RunObserver& observer) {
    if (link.FileDownload(bootwire::FileType::Hwc, ramBase + kHwcOffset, data + kHwcOffset, kHwcSize) !=
        bootwire::Error::Ok) {
        observer.Diagnostic(link.ErrorDetail());
    }
    if (link.FileDownload(bootwire::FileType::Csf, ramBase + kCsfOffset, data + kCsfOffset, kCsfSize) !=
        bootwire::Error::Ok) {
        observer.Diagnostic(link.ErrorDetail());
    }
}

// Reports payload bytes to the observer while it lives.
class SentBytes {
public:
    SentBytes(bootwire::Link& link, RunObserver& observer) : link_(link) {
        link_.SetSendObserver([&observer](size_t n) { observer.BytesSent(n); });
    }
    ~SentBytes() { link_.SetSendObserver({}); }
    SentBytes(const SentBytes&) = delete;
    SentBytes& operator=(const SentBytes&) = delete;

private:
    bootwire::Link& link_;
};

Outcome DownloadOnly(bootwire::Link& link, const RunPlan& plan, RunObserver& observer) {
    size_t fileSize = plan.imageSize;
    DownloadBuffer buffer = MakeDownloadBuffer(fileSize, plan.secure);
    if (fileSize == 0 || !ReadWholeFile(plan.imagePath, buffer.data.get(), fileSize)) {
        return Outcome::Failure(FailureKind::File, "Can't open image file!",
                                FileProblem(plan.imagePath, "The image file"));
    }
    size_t imagePart = plan.secure ? fileSize - kCodeOffset : fileSize;
    observer.DownloadStarted((plan.secure ? kHwcSize + kCsfSize : 0) + imagePart + kApplicationHead,
                             static_cast<uint32_t>(fileSize));
    bootwire::Error result;
    {
        SentBytes sent(link, observer);
        const uint8_t* data = buffer.data.get();
        if (plan.secure) {
            SendSecurityWindows(link, plan.preset->ramBase, data, observer);
            result = link.ImageDownload(plan.address, data + kCodeOffset, imagePart);
        } else {
            result = link.ImageDownload(plan.address, data, fileSize);
        }
    }
    buffer = {};
    if (result != bootwire::Error::Ok) {
        return Reason("Downloading Error\n", link, result);
    }
    if (bootwire::Error end = link.CompleteEndResponse(); end != bootwire::Error::Ok) {
        return Reason("Invalid Application\n", link, end);
    }
    return Outcome::Success(Format("Downloading Complete - Program executing at 0x%x", plan.address));
}

// A link whose port or device went away, or whose system calls fail, will not
// answer again: polling on until the silence limit would only hide the reason.
// A time-out is different: the flash library may skip a query while it works.
bool LinkIsLost(bootwire::Error error) {
    return error == bootwire::Error::Gone || error == bootwire::Error::Io || error == bootwire::Error::NotOpen ||
           error == bootwire::Error::Driver;
}

Outcome PollFlashing(bootwire::Link& link, const RunPlan& plan, RunObserver& observer, std::stop_token stop) {
    observer.FlashingStarted();
    PauseUnlessStopped(stop, kFlashingStartPause);
    Clock::time_point start = Clock::now();
    Clock::time_point lastWord = start;
    // A built-in library answers from its start: one that never does never ran, and
    // may be another processor's. A user's library may take its time.
    const bool builtin = plan.flashType == FlashType::Nor || plan.flashType == FlashType::Nand;
    bool answered = false;
    const std::chrono::milliseconds silenceLimit = StatusSilenceLimit(plan, plan.flashType);
    StatusWordCheck check(plan.flashType != FlashType::UserInput, plan.imageSize);
    while (true) {
        if (stop.stop_requested()) {
            return Reason(std::string(kStoppedText), FailureKind::Stopped);
        }
        uint32_t word = 0;
        bootwire::Error error = link.FlashingStatus(&word);
        Clock::time_point now = Clock::now();
        if (error != bootwire::Error::Ok) {
            if (error == bootwire::Error::Stopped) {
                return Reason(std::string(kStoppedText), FailureKind::Stopped);
            }
            if (LinkIsLost(error)) {
                return Reason("The link to the board was lost during flashing: " + link.ErrorDetail());
            }
            if (now - lastWord >= silenceLimit) {
                auto seconds = std::chrono::duration_cast<std::chrono::seconds>(silenceLimit).count();
                // The board did answer until now: the library is stuck or the board was reset.
                std::string hint = error == bootwire::Error::Gone ? SilentBoardHint(error)
                                   : !answered && builtin
                                       ? std::string(kNeverAnsweredHint)
                                       : "the flash library fell silent while flashing: the flash may be "
                                         "partly written; reset the board into boot-ROM download mode and "
                                         "flash again";
                return Outcome::Failure(FailureKind::Target,
                                        Format("The flash library stopped answering: no status word for %u s",
                                               static_cast<uint32_t>(seconds)),
                                        std::move(hint), link.ErrorDetail());
            }
            PauseUnlessStopped(stop, kPollRetryPause);
            continue;
        }
        lastWord = now;
        if (!check.Fits(word)) {
            return Outcome::Failure(FailureKind::Target,
                                    Format("The answers of the flash library went out of step: 0x%08X is no status "
                                           "word it sends",
                                           word),
                                    "the flash may be partly written; reset the board into boot-ROM download mode "
                                    "and flash again");
        }
        answered = true;
        observer.StatusWord(word);
        switch (static_cast<int16_t>(word >> 16)) {
            case kStateCompleted:
                return Outcome::Success("Flashing Completed\n");
            case kStateEraseFailed:
                return Outcome::Failure(FailureKind::Target, "Flashing Erase Error\n", RefusedAddressHint(plan));
            case kStateProgramFailed:
                return Reason("Flashing Program Error\n");
            case kStateVerifyFailed:
                return Reason("Flashing Verifying Error\n");
            default:
                break;
        }
        if (now - start >= plan.flashingTimeLimit) {
            auto minutes = std::chrono::duration_cast<std::chrono::minutes>(plan.flashingTimeLimit).count();
            return Reason(Format("Flashing did not end within %u minutes", static_cast<uint32_t>(minutes)));
        }
    }
}

// The flash library at offset 0 of the buffer; an empty outcome's message when it is in place.
Outcome LoadFlashLibrary(const RunPlan& plan, uint8_t* data) {
    switch (plan.flashType) {
        case FlashType::Nor:
        case FlashType::Nand:
            if (CopyBuiltinFlashLibrary(plan.processor, plan.flashType, data, kImageOffset) == 0) {
                return Reason("The built-in flash library is not available in this build", FailureKind::File);
            }
            return Outcome::Success();
        case FlashType::UserInput: {
            size_t librarySize = FileSizeOf(plan.flashLibPath).value_or(0);
            if (librarySize >= kFlashLibraryLimit) {
                return Reason("Flash Library Size too large, it must be < 0x10000", FailureKind::Input);
            }
            if (librarySize == 0 || !ReadWholeFile(plan.flashLibPath, data, librarySize)) {
                return Outcome::Failure(FailureKind::File, "Can't open the Flash Library",
                                        FileProblem(plan.flashLibPath, "The flash library"));
            }
            return Outcome::Success();
        }
        default:
            return Reason("Please Select a Flash library\n", FailureKind::Input);
    }
}

Outcome Flashing(bootwire::Link& link, const RunPlan& plan, bool usb, RunObserver& observer, std::stop_token stop) {
    size_t imageSize = plan.imageSize;
    DownloadBuffer buffer = MakeFlashingBuffer(imageSize);
    uint8_t* data = buffer.data.get();
    if (Outcome library = LoadFlashLibrary(plan, data); !library.Ok()) {
        return library;
    }
    if (imageSize == 0 || !ReadWholeFile(plan.imagePath, data + kImageOffset, imageSize)) {
        return Outcome::Failure(FailureKind::File, "Can't open the Image File",
                                FileProblem(plan.imagePath, "The image file"));
    }
    WriteParameterBlock(data, MakeParameterBlock(*plan.preset, plan.flashType, plan.address, plan.partitionSize,
                                                 static_cast<uint32_t>(imageSize), usb ? 1 : 0));
    size_t sendSize = imageSize + (kImageOffset - kCodeOffset);
    observer.DownloadStarted((plan.secure ? kHwcSize + kCsfSize : 0) + sendSize + kApplicationHead,
                             static_cast<uint32_t>(imageSize));
    bootwire::Error result;
    {
        SentBytes sent(link, observer);
        uint32_t base = plan.preset->ramBase;
        if (plan.secure) {
            SendSecurityWindows(link, base, data, observer);
        }
        result = link.ImageDownload(base + kCodeOffset, data + kCodeOffset, sendSize);
    }
    buffer = {};
    observer.FlashingDownloadDone();
    if (result != bootwire::Error::Ok) {
        return Reason("Downloading Error, Exit without Flashing\n", link, result);
    }
    if (bootwire::Error end = link.CompleteEndResponse(); end != bootwire::Error::Ok) {
        return Reason("Download code or the Flash Program can't be executed, Check the SekurelType\n", link, end);
    }
    return PollFlashing(link, plan, observer, stop);
}

}  // namespace

Outcome LinkFailure(std::string text, const bootwire::Link& link, bootwire::Error error) {
    if (error == bootwire::Error::Stopped) {
        return Outcome::Failure(FailureKind::Stopped, std::string(kStoppedText));
    }
    return Outcome::Failure(FailureKind::Target, std::move(text), SilentBoardHint(error), link.ErrorDetail());
}

Outcome ReadFailure(std::string text, const bootwire::Link& link, bootwire::Error error) {
    if (error == bootwire::Error::Stopped) {
        return Outcome::Failure(FailureKind::Stopped, std::string(kStoppedText));
    }
    std::string_view detail = link.ErrorDetail();
    constexpr std::string_view kNotBootRom = bootwire::kNotBootRomAnswer;
    if (!detail.starts_with(kNotBootRom)) {
        return Outcome::Failure(FailureKind::Target, std::move(text), SilentBoardHint(error), std::string(detail));
    }
    // The hint says it; the diagnostic keeps what came instead.
    detail.remove_prefix(kNotBootRom.size());
    while (!detail.empty() && (detail.front() == ':' || detail.front() == ' ')) detail.remove_prefix(1);
    return Outcome::Failure(FailureKind::Target, std::move(text), std::string(kNotBootRom), std::string(detail));
}

std::string SilentBoardHint(bootwire::Error error) {
    switch (error) {
        case bootwire::Error::Timeout:
        case bootwire::Error::NoAnswer:
            return "the board did not answer: is it in boot-ROM download mode? reset it and retry";
        case bootwire::Error::Gone:
            return "the board went away (unplugged or reset): connect it, put it in boot-ROM download mode and retry";
        default:
            return {};
    }
}

std::chrono::milliseconds StatusSilenceLimit(const FlashingChoices& choices, FlashType flashType) {
    if (choices.statusSilenceLimit.count() > 0) {
        return choices.statusSilenceLimit;
    }
    return flashType == FlashType::UserInput ? kUserLibrarySilence : kBuiltinLibrarySilence;
}

std::string RefusedAddressHint(const RunPlan& plan) {
    if (plan.flashType == FlashType::Nor && (plan.address & 1) != 0) {
        return Format(
            "the flash address 0x%08X is odd: the built-in library writes the NOR flash in 16-bit words, "
            "from an even address",
            plan.address);
    }
    return {};
}

bool EndsRun(int code) {
    return code == kStateEraseFailed || code == kStateProgramFailed || code == kStateVerifyFailed ||
           code == kStateCompleted;
}

bool IsStateCode(int code) { return (code >= kStateErasing && code <= kStateVerifying) || EndsRun(code); }

Outcome RunSequence(bootwire::Link& link, const RunPlan& plan, bool usb, RunObserver& observer, std::stop_token stop) {
    ReceiveLimit limit(link);
    switch (plan.operation) {
        case OperationType::DownloadOnly:
            return DownloadOnly(link, plan, observer);
        case OperationType::Flashing:
            if (plan.fastSerial && !usb) {
                return FastFlashing(link, plan, observer);
            }
            return Flashing(link, plan, usb, observer, stop);
        case OperationType::Verify:
        case OperationType::Erase:
            return FastFlashing(link, plan, observer);  // through the library's ranges, as --fast
        default:
            return Reason("Type of Operation Undefined", FailureKind::Input);
    }
}

Result<uint32_t> ReadMemoryWord(bootwire::Link& link, uint32_t address) {
    ReceiveLimit limit(link);
    uint8_t bytes[4] = {};
    bootwire::Error error = link.ReadData(address, bytes, sizeof bytes, 32);
    // The page logs what arrived even when the read failed.
    uint32_t word = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return {error == bootwire::Error::Ok ? Outcome::Success() : ReadFailure("Read failed", link, error), word};
}

std::string ReadMemoryLine(uint32_t address, uint32_t word) {
    char line[64];
    std::snprintf(line, sizeof line, "Register/Memory 0x%08x : 0x%08x", address, word);
    return line;
}

Result<uint32_t> ReadSekurelStatus(bootwire::Link& link) {
    ReceiveLimit limit(link);
    uint32_t word = 0;
    if (bootwire::Error error = link.GetStatus(&word); error != bootwire::Error::Ok) {
        return {Reason("Sekurel status failed", link, error), 0};
    }
    return {Outcome::Success(), word};
}

std::string SekurelStatusLine(uint32_t word) { return Format("Init Sekurel status from ROM: 0x%x", word & 0xFF); }

}  // namespace sealbench
