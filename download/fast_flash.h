// Fast serial flashing: a FLASHING run with a built-in flash library over a
// serial port, in which the library takes over the line once the boot ROM has
// started it. The boot ROM loads only the library and a parameter block that asks
// for streaming; the library answers at 115200 baud, both sides switch to a
// faster rate, and the image follows compressed, in checked blocks, while the
// library writes the flash; at the end the library reports a CRC-32 of the flash
// range it wrote, which must equal the image's. flashlib/DATASHEET.md
// ("Streaming mode") describes the protocol.
//
// Toolkit-free; the run core and the front ends call RunFastFlash on their worker
// thread after the memory initialisation, with the link already open.
#pragma once

#include <bootwire/bootwire.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "presets.h"

namespace sealbench {

inline constexpr int kDefaultFastBaud = 921600;

struct FastFlashJob {
    ProcessorType processor = ProcessorType::None;
    FlashType flashType = FlashType::Nor;  // Nor or Nand: the built-in libraries
    uint32_t flashAddress = 0;             // NOR: bus address; NAND: offset (as the page computes them)
    uint32_t partitionSize = 0;            // NAND: 0 means to the end of the device
    std::span<const uint8_t> image;        // 1 byte to 32 MiB
    int baud = kDefaultFastBaud;
};

enum class FastPhase {
    Downloading,  // the boot ROM loads the library (bytes on the line at 115200)
    Connecting,   // hello, speed change and sync
    Programming,  // blocks on the line, flash written behind them (erasing as needed)
    Verifying,    // the library reads the flash back for its digest
    Finished,
};

struct FastProgress {
    FastPhase phase = FastPhase::Downloading;
    int stateCode = 0;            // the library's latest state: 0xA1 erasing, 0xA2 programming, 0xA3 verifying
    uint64_t lineBytes = 0;       // bytes the host has put on the line
    uint64_t libraryBytes = 0;    // of which the boot ROM's download of the library
    uint64_t imageBytesSent = 0;  // image bytes in blocks the library has accepted
    uint64_t bytesWritten = 0;    // image bytes in flash (read back, while Verifying)
    uint64_t imageSize = 0;
    int baud = 115200;  // the line's current rate
};

// Called on the caller's thread, often; keep it quick.
using FastProgressObserver = std::function<void(const FastProgress&)>;

struct FastFlashStats {
    uint64_t compressedBytes = 0;  // block payloads, as first sent
    uint64_t lineBytes = 0;        // everything the host sent, retransmissions included
    uint32_t blocks = 0;
    uint32_t retransmissions = 0;
    double librarySeconds = 0;  // boot ROM download and start of the library
    double streamSeconds = 0;   // from the speed change to the digest
};

struct FastFlashResult {
    bool success = false;
    // The status-log line: "Flashing Completed\n" on success, else the reason (the run
    // logs it as "Error!!- Reason: %s").
    std::string text;
    // Success: the line that says the image was verified, logged before text.
    std::string verifiedLine;
    // Details for the diagnostic stream (what the link or the library said).
    std::vector<std::string> diagnostics;
    FastFlashStats stats;
};

// Everything that can be refused before anything is sent: processor, flash type,
// image size, rate. The reason, or nullopt.
std::optional<std::string> CheckFastFlashJob(const FastFlashJob& job);

// Whether the board's UART can make the rate (115200 up to 921600, an exact
// divisor of its clock): the reason, or nullopt.
std::optional<std::string> CheckFastBaud(int baud);

// The rates CheckFastBaud accepts, fastest first.
std::vector<int> FastBaudRates();

// Runs the whole job on the link's serial transport. Checks first (CheckFastFlashJob,
// and that the port can change its speed) and sends nothing when they fail. Every
// wait is bounded; `stop` ends the run at the next block. On return the line is back
// at 115200 baud, the link's send observer is cleared and its transport's receive
// time-out limit is reset to the transport's own.
FastFlashResult RunFastFlash(bootwire::Link& link, const FastFlashJob& job, const FastProgressObserver& progress,
                             const std::atomic<bool>& stop);

}  // namespace sealbench
