#include "fast_flash.h"

#include <chrono>
#include <cstring>

#include "download_layout.h"
#include "fast_session.h"
#include "fast_wire.h"
#include "flash_libraries.h"

namespace sealbench {
namespace {

using Clock = std::chrono::steady_clock;

// The rates offered: exact divisors of the UART's clock that serial ports offer.
constexpr int kRates[] = {921600, 460800, 230400, 115200};

void PutWord(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// Puts the link's receive limit and send observer back as RunFastFlash promises.
class LinkReset {
public:
    explicit LinkReset(bootwire::Link& link) : link_(link) {}
    ~LinkReset() {
        link_.SetSendObserver({});
        if (link_.transport()) link_.transport()->SetReceiveTimeoutLimit(0);
    }
    LinkReset(const LinkReset&) = delete;
    LinkReset& operator=(const LinkReset&) = delete;

private:
    bootwire::Link& link_;
};

}  // namespace

std::vector<int> FastBaudRates() { return {std::begin(kRates), std::end(kRates)}; }

std::optional<std::string> CheckFastBaud(int baud) {
    const std::string offered = "921600, 460800, 230400 or 115200";
    if (baud < fastwire::kRomBaud) {
        return "Fast serial flashing runs at 115200 baud or faster; choose " + offered;
    }
    if (baud > fastwire::kUartClockBaud || !fastwire::UartDivisor(baud)) {
        return "The board's UART cannot run at " + std::to_string(baud) + " baud (its rates are " +
               std::to_string(fastwire::kUartClockBaud) + " divided by a whole number); choose " + offered;
    }
    return std::nullopt;
}

std::optional<std::string> CheckFastFlashJob(const FastFlashJob& job) {
    if (job.processor == ProcessorType::None) {
        return "Please select the Vireo version!\n";
    }
    if (job.flashType != FlashType::Nor && job.flashType != FlashType::Nand) {
        return "Fast serial flashing needs a built-in flash library (NOR or NAND)";
    }
    if (job.processor == ProcessorType::VireoB && job.flashType == FlashType::Nand) {
        return "VireoB not support NAND flash yet!\n";
    }
    if (job.image.empty()) {
        return "The image file is empty";
    }
    if (job.image.size() > kMaxImageSize) {
        return "The image file is too large: it must be at most 0x2000000 bytes";
    }
    if (!HaveBuiltinFlashLibraries()) {
        return "The built-in flash library is not available in this build";
    }
    return CheckFastBaud(job.baud);
}

FastFlashResult RunFastFlash(bootwire::Link& link, const FastFlashJob& job, const FastProgressObserver& observer,
                             const std::atomic<bool>& stop) {
    FastFlashResult result;
    if (auto refused = CheckFastFlashJob(job)) {
        result.text = *refused;
        return result;
    }
    bootwire::Transport* transport = link.transport();
    if (!transport) {
        result.text = "Please select the Com port";
        return result;
    }
    LinkReset reset(link);
    // The port must take both speeds before anything goes to the board.
    if (transport->SetLineSpeed(job.baud) != bootwire::Error::Ok ||
        transport->SetLineSpeed(fastwire::kRomBaud) != bootwire::Error::Ok) {
        result.text = "Fast serial flashing needs a serial port that can run at " + std::to_string(job.baud) + " baud";
        result.diagnostics.push_back(transport->LastDetail());
        transport->SetLineSpeed(fastwire::kRomBaud);
        return result;
    }

    // The library area as the boot ROM will hold it: code from 0x4000, the
    // parameter block at 0xFFE0 asking for streaming. The image stays on the host.
    const ProcessorPreset& preset = PresetOf(job.processor);
    std::vector<uint8_t> area(kImageOffset, 0);
    const size_t librarySize = CopyBuiltinFlashLibrary(job.processor, job.flashType, area.data(), kParameterOffset);
    if (librarySize <= kCodeOffset + kApplicationHead) {
        result.text = "The built-in flash library is not available in this build";
        return result;
    }
    WriteParameterBlock(area.data(), MakeParameterBlock(preset, job.flashType, job.flashAddress, job.partitionSize,
                                                        static_cast<uint32_t>(job.image.size()), 0));
    PutWord(area.data() + fastwire::kStreamWordOffset, fastwire::kStreamRequest);

    FastProgress progress;
    progress.imageSize = job.image.size();
    auto report = [&] {
        if (observer) observer(progress);
    };
    link.SetSendObserver([&](size_t n) {
        progress.lineBytes += n;
        progress.libraryBytes += n;
        result.stats.lineBytes += n;
        report();
    });
    report();

    // Three loads, so that only the library's code and the block cross the slow line:
    // the code after its head, the parameter block, and last the head as the
    // application the boot ROM starts.
    const auto started = Clock::now();
    const uint32_t base = preset.ramBase;
    const size_t tail = librarySize - kCodeOffset - kApplicationHead;
    const uint8_t* data = area.data();
    bootwire::Error e = link.FileDownload(bootwire::FileType::Image, base + kCodeOffset + kApplicationHead,
                                          data + kCodeOffset + kApplicationHead, tail);
    if (e == bootwire::Error::Ok) {
        e = link.FileDownload(bootwire::FileType::Image, base + kParameterOffset, data + kParameterOffset,
                              kImageOffset - kParameterOffset);
    }
    if (e == bootwire::Error::Ok) {
        e = link.FileDownload(bootwire::FileType::Application, base + kCodeOffset, data + kCodeOffset,
                              kApplicationHead);
    }
    link.SetSendObserver({});
    if (e != bootwire::Error::Ok) {
        result.text = "Downloading Error, Exit without Flashing\n";
        result.diagnostics.push_back(link.ErrorDetail());
        return result;
    }
    if (link.CompleteEndResponse() != bootwire::Error::Ok) {
        result.text = "Download code or the Flash Program can't be executed, Check the SekurelType\n";
        result.diagnostics.push_back(link.ErrorDetail());
        return result;
    }
    result.stats.librarySeconds = Seconds(started);

    progress.phase = FastPhase::Connecting;
    report();
    const int bitsPerByte = preset.lineMode == static_cast<int>(bootwire::LineMode::OddParityTwoStop) ? 12 : 10;
    FastSession session(*transport, bitsPerByte, stop, observer, progress, result);
    const auto streaming = Clock::now();
    const bool ok = session.Hello() && session.ChangeSpeed(job.baud) && session.Stream(job.image);
    result.stats.streamSeconds = Seconds(streaming);
    session.Quit();
    result.success = ok;
    if (ok) {
        result.text = "Flashing Completed\n";
        progress.phase = FastPhase::Finished;
        report();
    }
    return result;
}

}  // namespace sealbench
