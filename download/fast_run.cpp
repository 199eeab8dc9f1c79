#include "fast_run.h"

#include <atomic>
#include <functional>

#include "download_layout.h"
#include "fast_flash.h"
#include "flash_libraries.h"

namespace sealbench {
namespace {

// The bytes the boot ROM's download of the library puts on the line: its code
// after the area's start and the parameter block.
uint64_t LibraryBytes(const RunPlan& plan) {
    std::vector<uint8_t> area(kImageOffset, 0);
    size_t size = CopyBuiltinFlashLibrary(plan.processor, plan.flashType, area.data(), kParameterOffset);
    return size > kCodeOffset ? size - kCodeOffset + (kImageOffset - kParameterOffset) : 0;
}

// Follows RunFastFlash's reports and passes on each change once.
class ProgressRelay {
public:
    ProgressRelay(RunObserver& observer, uint64_t libraryBytes) : observer_(observer), libraryBytes_(libraryBytes) {}

    void operator()(const FastProgress& p) {
        if (!started_) {
            started_ = true;
            observer_.DownloadStarted(libraryBytes_, static_cast<uint32_t>(p.imageSize));
        }
        if (p.libraryBytes > sent_) {
            observer_.BytesSent(static_cast<size_t>(p.libraryBytes - sent_));
            sent_ = p.libraryBytes;
        }
        if (p.phase != FastPhase::Downloading && !flashing_) {
            flashing_ = true;
            observer_.FlashingDownloadDone();
            observer_.FlashingStarted();
            observer_.FlashWritten(0);
        }
        if (!flashing_) {
            return;
        }
        int code = p.stateCode;
        if (p.phase == FastPhase::Programming && code == 0) code = kStateProgramming;
        if (p.phase == FastPhase::Verifying) code = kStateVerifying;
        if (IsStateCode(code) && code != state_) {
            state_ = code;
            // Each stage counts from nothing, and the count is back at nothing before
            // the stage shows, so that no look sees the last stage's count in it.
            written_ = 0;
            observer_.FlashWritten(0);
            observer_.StatusWord(static_cast<uint32_t>(code) << 16);
        }
        // While verifying the count starts again: the bytes read back.
        if (p.bytesWritten != written_) {
            written_ = p.bytesWritten;
            observer_.FlashWritten(written_);
        }
    }

private:
    RunObserver& observer_;
    uint64_t libraryBytes_;
    bool started_ = false;
    bool flashing_ = false;
    uint64_t sent_ = 0;
    uint64_t written_ = 0;
    int state_ = 0;
};

}  // namespace

bool UsesFastFlashing(const RunPlan& plan, bool usb) {
    return plan.fastSerial && !usb && !plan.secure && plan.operation == OperationType::Flashing &&
           (plan.flashType == FlashType::Nor || plan.flashType == FlashType::Nand);
}

Outcome FastFlashing(bootwire::Link& link, const RunPlan& plan, RunObserver& observer, std::stop_token stop) {
    std::vector<uint8_t> image(plan.imageSize);
    if (plan.imageSize == 0 || !ReadWholeFile(plan.imagePath, image.data(), image.size())) {
        return Outcome::Failure(FailureKind::File, "Can't open the Image File");
    }
    FastFlashJob job;
    job.processor = plan.processor;
    job.flashType = plan.flashType;
    job.flashAddress = plan.address;
    job.partitionSize = plan.partitionSize;
    job.image = image;
    job.baud = plan.fastBaud;

    std::atomic<bool> stopped{false};
    std::stop_callback onStop(stop, [&stopped] { stopped = true; });
    ProgressRelay relay(observer, LibraryBytes(plan));
    FastFlashResult result = RunFastFlash(link, job, std::ref(relay), stopped);

    std::string diagnostic;
    for (const std::string& line : result.diagnostics) {
        if (line.empty()) continue;
        diagnostic += (diagnostic.empty() ? "" : "\n") + line;
    }
    if (!result.success) {
        FailureKind kind = stopped.load() ? FailureKind::Stopped : FailureKind::Target;
        return Outcome::Failure(kind, result.text, {}, diagnostic);
    }
    observer.StatusWord(static_cast<uint32_t>(kStateCompleted) << 16);
    Outcome outcome = Outcome::Success(result.text);
    outcome.detail = result.verifiedLine;
    outcome.diagnostic = diagnostic;
    return outcome;
}

}  // namespace sealbench
