#include "target_run.h"

#include <cinttypes>
#include <cstdio>

#include "download_layout.h"
#include "flash_libraries.h"
#include "memory_init.h"

namespace sealbench {
namespace {

using Clock = std::chrono::steady_clock;

// The bar need not follow a download faster than the eye does.
constexpr auto kProgressInterval = std::chrono::milliseconds(20);
// A link that fails at once (a device that went away) must not be hammered.
constexpr auto kPollRetryPause = std::chrono::milliseconds(50);
constexpr auto kFlashingStartPause = std::chrono::milliseconds(10);

constexpr int64_t kFlashingStep = 10000;

// The board answers a command within milliseconds; a receive that waits longer
// than this has lost the board (USB would otherwise wait for minutes).
constexpr int kReceiveLimitMs = 5000;

// Bounds the link's receives for one operation and lifts the bound after it.
class ReceiveLimit {
public:
    explicit ReceiveLimit(bootwire::Link& link) : link_(link) { link_.SetReceiveTimeoutLimit(kReceiveLimitMs); }
    ~ReceiveLimit() { link_.SetReceiveTimeoutLimit(0); }
    ReceiveLimit(const ReceiveLimit&) = delete;
    ReceiveLimit& operator=(const ReceiveLimit&) = delete;

private:
    bootwire::Link& link_;
};

std::string Format(const char* format, uint32_t value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool EndsRun(int code) {
    return code == kStateEraseFailed || code == kStateProgramFailed || code == kStateVerifyFailed ||
           code == kStateCompleted;
}

bool IsStateCode(int code) { return (code >= kStateErasing && code <= kStateVerifying) || EndsRun(code); }

// The control's step: past the end of the range it starts again from the beginning.
int64_t StepWithin(int64_t position, int64_t step, int64_t maximum) {
    if (maximum <= 0) {
        return 0;
    }
    position += step;
    return position > maximum ? position % maximum : position;
}

}  // namespace

TargetLinks TargetLinks::Process() {
    TargetLinks links;
    links.serial = &bootwire::ProcessSerialLink();
    links.usb = &bootwire::ProcessUsbLink();
    links.reenumerateUsb = [] { BootwireClass().Vireo_USBEnum(); };
    return links;
}

TargetRunner::TargetRunner(TargetLinks links, RunView& view, Session& session)
    : links_(std::move(links)), view_(view), session_(session) {}

TargetRunner::~TargetRunner() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread* t : {&worker_, &progress_}) {
        if (t->joinable()) {
            if (t->get_id() == std::this_thread::get_id()) {
                t->detach();
            } else {
                t->join();
            }
        }
    }
}

bootwire::Link& TargetRunner::LinkFor(const RunSettings& settings) const {
    return settings.usb ? *links_.usb : *links_.serial;
}

void TargetRunner::Log(std::string_view line) { AppendLog(view_, session_, line); }

void TargetRunner::Fail(std::string_view text) { Log("Error! - " + std::string(text)); }

bool TargetRunner::RefuseDuringRun() {
    if (running_.load()) {
        Fail("A run is in progress; wait for it to end");
        return true;
    }
    return false;
}

bool TargetRunner::CheckInputs(const RunSettings& s) {
    // Refused here, before anything goes to the target.
    if (!s.useDefaultAddress && !ReadHexText(s.addressText)) {
        Fail("The address must have at most 8 hexadecimal digits");
        return false;
    }
    if (s.operation == OperationType::Flashing && s.flashType == FlashType::Nand && !ReadHexText(s.partitionSizeText)) {
        Fail("The partition size must have at most 8 hexadecimal digits");
        return false;
    }
    if (s.operation != OperationType::DownloadOnly && s.operation != OperationType::Flashing) {
        return true;
    }
    std::optional<size_t> size = FileSizeOf(s.imagePath);
    if (!size) {
        return true;  // the worker reports a file it cannot open
    }
    if (*size > kMaxImageSize) {
        Fail(Format("The image file is too large: it must be at most 0x%x bytes", kMaxImageSize));
        return false;
    }
    if (*size == 0) {
        Fail("The image file is empty");
        return false;
    }
    if (s.operation == OperationType::DownloadOnly && s.secure && *size <= kCodeOffset) {
        Fail(Format("A combined image must be larger than 0x%x bytes with CSF HWC", kCodeOffset));
        return false;
    }
    return true;
}

bool TargetRunner::Execute(const RunSettings& s) {
    if (RefuseDuringRun()) {
        return false;
    }
    if (s.processor == ProcessorType::None) {
        Log("Please select the Vireo version!\n");
        return false;
    }
    const ProcessorPreset& preset = PresetOf(s.processor);
    if (s.processor == ProcessorType::VireoB && s.flashType == FlashType::Nand) {
        Log("VireoB not support NAND flash yet!\n");
        return false;
    }
    if (session_.bannerPending.exchange(false)) {
        Log(preset.banner);
    }
    if (s.usb) {
        if (session_.flashingDownloadDone.load() && links_.reenumerateUsb) {
            links_.reenumerateUsb();
        }
    } else if (s.portIndex < 0) {
        Fail("Please select the Com port");
        return false;
    }
    if (s.operation == OperationType::DownloadOnly && !s.useDefaultAddress) {
        std::optional<uint32_t> address = ReadHexText(s.addressText);
        if (address && !preset.AcceptsRamAddress(*address)) {
            Fail("Incorrect Input Memory Address\n");
            return false;
        }
    }
    if (!CheckInputs(s)) {
        return false;
    }
    Log(s.usb ? "USB is using" : "UART is using");

    bootwire::Link& link = LinkFor(s);
    std::optional<ReceiveLimit> limit(std::in_place, link);
    MemoryInitResult init = RunMemoryInit(link, s.processor, s.memoryInit);
    limit.reset();
    if (!init.ok) {
        ReportMemoryInitFailure(init);
        return false;
    }

    // The previous run's threads have ended (running_ was false); collect them.
    for (std::thread* t : {&worker_, &progress_}) {
        if (t->joinable()) {
            if (t->get_id() == std::this_thread::get_id()) {
                t->detach();
            } else {
                t->join();
            }
        }
    }
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
    }
    bytesSent_ = 0;
    bytesToSend_ = 0;
    statusWords_ = 0;
    imageSize_ = 0;
    channel_ = s.usb ? 1 : 0;
    phase_ = kPhaseIdle;
    activeTasks_ = 2;
    running_ = true;
    progress_ = std::thread([this] { ProgressTask(); });
    worker_ = std::thread([this, s] { Worker(s); });
    return true;
}

bool TargetRunner::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return !running_.load(); });
}

void TargetRunner::Notify() {
    {
        std::lock_guard lock(mutex_);
        ++version_;
    }
    changed_.notify_all();
}

void TargetRunner::SetPhase(int phase) {
    phase_ = phase;
    Notify();
}

bool TargetRunner::StopRequested() {
    std::lock_guard lock(mutex_);
    return stop_;
}

void TargetRunner::TaskEnded() {
    if (activeTasks_.fetch_sub(1) != 1) {
        return;
    }
    // Reported before the run counts as ended, so that whoever waits for the end
    // finds the report made.
    view_.RunEnded(lastSuccess_.load());
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        ++version_;
    }
    changed_.notify_all();
}

void TargetRunner::Worker(RunSettings s) {
    session_.flashingDownloadDone = false;
    bootwire::Link& link = LinkFor(s);
    Outcome outcome{false, "Type of Operation Undefined"};
    {
        ReceiveLimit limit(link);
        if (s.operation == OperationType::DownloadOnly) {
            outcome = DownloadOnly(s, link);
        } else if (s.operation == OperationType::Flashing) {
            outcome = Flashing(s, link);
        }
        link.SetSendObserver({});
    }
    lastSuccess_ = outcome.success;
    SetPhase(kPhaseFinished);
    Log(outcome.success ? outcome.text : "Error!!- Reason: " + outcome.text);
    TaskEnded();
}

TargetRunner::Outcome TargetRunner::DownloadOnly(const RunSettings& s, bootwire::Link& link) {
    const ProcessorPreset& preset = PresetOf(s.processor);
    uint32_t address = s.useDefaultAddress ? preset.DefaultRamAddress() : ReadHexText(s.addressText).value_or(0);

    size_t fileSize = FileSizeOf(s.imagePath).value_or(0);
    if (fileSize > kMaxImageSize) {
        return {false, Format("The image file is too large: it must be at most 0x%x bytes", kMaxImageSize)};
    }
    if (s.secure && fileSize <= kCodeOffset) {
        return {false, Format("A combined image must be larger than 0x%x bytes with CSF HWC", kCodeOffset)};
    }
    DownloadBuffer buffer = MakeDownloadBuffer(fileSize, s.secure);
    if (fileSize == 0 || !ReadWholeFile(s.imagePath, buffer.data.get(), fileSize)) {
        return {false, "Can't open image file!"};
    }
    imageSize_ = static_cast<uint32_t>(fileSize);
    size_t imagePart = s.secure ? fileSize - kCodeOffset : fileSize;
    bytesToSend_ = (s.secure ? kHwcSize + kCsfSize : 0) + imagePart + kApplicationHead;
    link.SetSendObserver([this](size_t n) {
        bytesSent_ += n;
        Notify();
    });
    SetPhase(kPhaseDownloading);

    const uint8_t* data = buffer.data.get();
    bootwire::Error result;
    if (s.secure) {
        uint32_t base = preset.ramBase;
        // The boot ROM decides on the image; the windows' own results say nothing more.
        if (link.FileDownload(bootwire::FileType::Hwc, base + kHwcOffset, data + kHwcOffset, kHwcSize) !=
            bootwire::Error::Ok) {
            view_.Diagnostic(link.ErrorDetail());
        }
        if (link.FileDownload(bootwire::FileType::Csf, base + kCsfOffset, data + kCsfOffset, kCsfSize) !=
            bootwire::Error::Ok) {
            view_.Diagnostic(link.ErrorDetail());
        }
        result = link.ImageDownload(address, data + kCodeOffset, imagePart);
    } else {
        result = link.ImageDownload(address, data, fileSize);
    }
    buffer = {};
    link.SetSendObserver({});
    if (result != bootwire::Error::Ok) {
        view_.Diagnostic(link.ErrorDetail());
        return {false, "Downloading Error\n"};
    }
    if (link.CompleteEndResponse() != bootwire::Error::Ok) {
        view_.Diagnostic(link.ErrorDetail());
        return {false, "Invalid Application\n"};
    }
    return {true, Format("Downloading Complete - Program executing at 0x%x", address)};
}

TargetRunner::Outcome TargetRunner::Flashing(const RunSettings& s, bootwire::Link& link) {
    const ProcessorPreset& preset = PresetOf(s.processor);
    uint32_t flashAddress = 0;
    if (s.useDefaultAddress) {
        flashAddress = s.flashType == FlashType::Nor ? preset.norFlashStart : 0;
    } else {
        flashAddress = ReadHexText(s.addressText).value_or(0);
    }

    size_t imageSize = FileSizeOf(s.imagePath).value_or(0);
    if (imageSize > kMaxImageSize) {
        return {false, Format("The image file is too large: it must be at most 0x%x bytes", kMaxImageSize)};
    }
    DownloadBuffer buffer = MakeFlashingBuffer(imageSize);
    uint8_t* data = buffer.data.get();

    uint32_t partitionSize = 0;
    switch (s.flashType) {
        case FlashType::Nor:
        case FlashType::Nand:
            if (s.flashType == FlashType::Nand) {
                partitionSize = ReadHexText(s.partitionSizeText).value_or(0);
            }
            if (CopyBuiltinFlashLibrary(s.processor, s.flashType, data, kImageOffset) == 0) {
                return {false, "The built-in flash library is not available in this build"};
            }
            break;
        case FlashType::UserInput: {
            size_t librarySize = FileSizeOf(s.flashLibPath).value_or(0);
            if (librarySize >= kFlashLibraryLimit) {
                return {false, "Flash Library Size too large, it must be < 0x10000"};
            }
            if (!ReadWholeFile(s.flashLibPath, data, librarySize) || librarySize == 0) {
                return {false, "Can't open the Flash Library"};
            }
            break;
        }
        default:
            return {false, "Please Select a Flash library\n"};
    }

    if (imageSize == 0 || !ReadWholeFile(s.imagePath, data + kImageOffset, imageSize)) {
        return {false, "Can't open the Image File"};
    }
    int channel = s.usb ? 1 : 0;
    WriteParameterBlock(data, MakeParameterBlock(preset, s.flashType, flashAddress, partitionSize,
                                                 static_cast<uint32_t>(imageSize), channel));
    imageSize_ = static_cast<uint32_t>(imageSize);
    size_t sendSize = imageSize + (kImageOffset - kCodeOffset);
    bytesToSend_ = (s.secure ? kHwcSize + kCsfSize : 0) + sendSize + kApplicationHead;
    link.SetSendObserver([this](size_t n) {
        bytesSent_ += n;
        Notify();
    });
    SetPhase(kPhaseDownloading);

    uint32_t base = preset.ramBase;
    if (s.secure) {
        if (link.FileDownload(bootwire::FileType::Hwc, base + kHwcOffset, data + kHwcOffset, kHwcSize) !=
            bootwire::Error::Ok) {
            view_.Diagnostic(link.ErrorDetail());
        }
        if (link.FileDownload(bootwire::FileType::Csf, base + kCsfOffset, data + kCsfOffset, kCsfSize) !=
            bootwire::Error::Ok) {
            view_.Diagnostic(link.ErrorDetail());
        }
    }
    bootwire::Error result = link.ImageDownload(base + kCodeOffset, data + kCodeOffset, sendSize);
    buffer = {};
    link.SetSendObserver({});
    session_.flashingDownloadDone = true;
    if (result != bootwire::Error::Ok) {
        view_.Diagnostic(link.ErrorDetail());
        return {false, "Downloading Error, Exit without Flashing\n"};
    }
    if (link.CompleteEndResponse() != bootwire::Error::Ok) {
        view_.Diagnostic(link.ErrorDetail());
        return {false, "Download code or the Flash Program can't be executed, Check the SekurelType\n"};
    }
    return PollFlashing(s, link);
}

TargetRunner::Outcome TargetRunner::PollFlashing(const RunSettings& s, bootwire::Link& link) {
    SetPhase(kPhaseFlashingStarted);
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kFlashingStartPause, [this] { return stop_; });
    }
    Clock::time_point start = Clock::now();
    Clock::time_point lastWord = start;
    while (true) {
        if (StopRequested()) {
            return {false, "The flashing run was abandoned"};
        }
        uint32_t word = 0;
        bootwire::Error error = link.FlashingStatus(&word);
        Clock::time_point now = Clock::now();
        if (error != bootwire::Error::Ok) {
            if (now - lastWord >= s.statusSilenceLimit) {
                view_.Diagnostic(link.ErrorDetail());
                return {false,
                        Format("The flash library stopped answering: no status word for %u s",
                               static_cast<uint32_t>(
                                   std::chrono::duration_cast<std::chrono::seconds>(s.statusSilenceLimit).count()))};
            }
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, kPollRetryPause, [this] { return stop_; });
            continue;
        }
        lastWord = now;
        int code = static_cast<int16_t>(word >> 16);
        statusWords_ += 1;
        // Only the codes of the flash library move the phase: a stray word such as
        // 0x00030000 must not pass for "finished".
        if (IsStateCode(code)) {
            phase_ = code;
        }
        Notify();
        switch (code) {
            case kStateCompleted:
                return {true, "Flashing Completed\n"};
            case kStateEraseFailed:
                return {false, "Flashing Erase Error\n"};
            case kStateProgramFailed:
                return {false, "Flashing Program Error\n"};
            case kStateVerifyFailed:
                return {false, "Flashing Verifying Error\n"};
            default:
                break;
        }
        if (now - start >= s.flashingTimeLimit) {
            return {false, Format("Flashing did not end within %u minutes",
                                  static_cast<uint32_t>(
                                      std::chrono::duration_cast<std::chrono::minutes>(s.flashingTimeLimit).count()))};
        }
    }
}

void TargetRunner::ProgressTask() {
    uint64_t seen = 0;
    int64_t maximum = 0;
    int64_t position = 0;
    int shownPhase = kPhaseIdle;
    bool erase = false;
    bool program = false;
    bool verify = false;
    uint64_t words = 0;

    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return version_ != seen || stop_; });
        seen = version_;
        bool stopping = stop_;
        lock.unlock();

        int phase = phase_.load();
        bool flashingPhase = phase == kPhaseFlashingStarted || IsStateCode(phase);
        if (shownPhase == kPhaseDownloading && phase != kPhaseDownloading) {
            view_.SetProgressPosition(maximum);
        }
        // The last status word and the end of the run may come between two looks.
        if ((shownPhase == kPhaseFlashingStarted || IsStateCode(shownPhase)) && !flashingPhase) {
            view_.SetProgressPosition(maximum);
        }
        if (phase == kPhaseDownloading) {
            if (shownPhase != kPhaseDownloading) {
                maximum = static_cast<int64_t>(bytesToSend_.load());
                view_.SetProgressCaption("Downloading:");
                view_.SetProgressPosition(0);
                view_.SetProgressRange(0, maximum);
                position = 0;
            }
            int64_t sent = std::min<int64_t>(static_cast<int64_t>(bytesSent_.load()), maximum);
            if (sent != position) {
                position = sent;
                view_.SetProgressPosition(position);
            }
        } else if (flashingPhase) {
            if (shownPhase != kPhaseFlashingStarted && !IsStateCode(shownPhase)) {
                maximum = imageSize_.load();
                view_.SetProgressCaption("Start Flashing:");
                view_.SetProgressPosition(0);
                view_.SetProgressRange(0, maximum);
                position = 0;
                words = statusWords_.load();
            }
            if (phase == kStateErasing && !erase) {
                erase = true;
                view_.SetProgressCaption("Flash Erase:");
            } else if (phase == kStateProgramming && !program) {
                program = true;
                position = 0;
                view_.SetProgressPosition(0);
                view_.SetProgressCaption("Flash Program:");
            } else if (phase == kStateVerifying && !verify) {
                verify = true;
                position = 0;
                view_.SetProgressPosition(0);
                view_.SetProgressCaption("Flash Verify:");
            }
            uint64_t now = statusWords_.load();
            if (now != words) {
                words = now;
                position = StepWithin(position, kFlashingStep, maximum);
                view_.SetProgressPosition(position);
            }
            if (EndsRun(phase)) {
                view_.SetProgressPosition(maximum);
            }
        }
        if (phase != kPhaseIdle) {
            shownPhase = phase;
        }
        if (phase == kPhaseFinished || phase == kStateCompleted || stopping) {
            break;
        }
        lock.lock();
        // Between two looks at the state: wake early only for a new phase.
        changed_.wait_for(lock, kProgressInterval, [&] { return phase_.load() != phase || stop_; });
    }
    // The worker may still write the finished phase after 0xB4 was seen: wait for it,
    // so that the idle phase below is the last word of the run.
    lock.lock();
    changed_.wait(lock, [&] { return phase_.load() == kPhaseFinished || stop_; });
    lock.unlock();
    phase_ = kPhaseIdle;
    TaskEnded();
}

void TargetRunner::ReadMemory(const RunSettings& s, std::string_view addressText) {
    if (RefuseDuringRun()) {
        return;
    }
    std::optional<uint32_t> address = ReadHexText(addressText);
    if (!address) {
        Fail("The address must have at most 8 hexadecimal digits");
        return;
    }
    bootwire::Link& link = LinkFor(s);
    ReceiveLimit limit(link);
    uint8_t bytes[4] = {};
    if (link.ReadData(*address, bytes, sizeof bytes, 32) != bootwire::Error::Ok) {
        view_.Diagnostic(link.ErrorDetail());
    }
    uint32_t word = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    char line[64];
    std::snprintf(line, sizeof line, "Register/Memory 0x%08x : 0x%08x", *address, word);
    Log(line);
}

void TargetRunner::CheckSekurelStatus(const RunSettings& s) {
    if (RefuseDuringRun()) {
        return;
    }
    bootwire::Link& link = LinkFor(s);
    ReceiveLimit limit(link);
    uint32_t word = 0;
    if (link.GetStatus(&word) != bootwire::Error::Ok) {
        view_.Diagnostic(link.ErrorDetail());
        word = 0;
    }
    Log(Format("Init Sekurel status from ROM: 0x%x", word & 0xFF));
}

void TargetRunner::ReportMemoryInitFailure(const MemoryInitResult& init) {
    Fail(init.errorText);
    if (!init.logDetail.empty()) {
        Log(init.logDetail);
    }
    if (!init.diagnostic.empty()) {
        view_.Diagnostic(init.diagnostic);
    }
}

bool TargetRunner::MemoryInitAlone(const RunSettings& s) {
    if (RefuseDuringRun()) {
        return false;
    }
    ReceiveLimit limit(LinkFor(s));
    MemoryInitResult init = RunMemoryInit(LinkFor(s), s.processor, s.memoryInit);
    if (!init.ok) {
        ReportMemoryInitFailure(init);
        return false;
    }
    Log("Memory Init Done - ");
    return true;
}

}  // namespace sealbench
