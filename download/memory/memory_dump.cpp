#include "download/memory/memory_dump.h"

#include <algorithm>
#include <cstdio>

#include "download/run/run_sequence.h"

namespace sealbench {

Outcome ReadMemoryBlock(bootwire::Link& link, uint32_t address, uint32_t length, const DumpSink& sink,
                        const DumpProgress& progress, std::stop_token stop) {
    if (length == 0 || static_cast<uint64_t>(address) + length > 0x100000000ull) {
        return Outcome::Failure(FailureKind::Input,
                                "The range must hold 1 byte or more and end at 0xFFFFFFFF at the latest");
    }
    ReceiveLimit limit(link);
    uint8_t piece[kDumpPieceSize];
    uint32_t done = 0;
    auto stoppedAt = [&](const char* what) {
        char text[128];
        std::snprintf(text, sizeof text, "%s at 0x%08X after %u of %u bytes", what, address + done, done, length);
        return std::string(text);
    };
    while (done < length) {
        if (stop.stop_requested()) {
            return Outcome::Failure(FailureKind::Stopped, "The read was abandoned");
        }
        uint32_t size = std::min(kDumpPieceSize, length - done);
        if (bootwire::Error error = link.ReadData(address + done, piece, size, 32); error != bootwire::Error::Ok) {
            return ReadFailure(stoppedAt("Reading stopped"), link, error);
        }
        if (std::string kept = sink({piece, size}); !kept.empty()) {
            return Outcome::Failure(FailureKind::File, stoppedAt("Writing stopped"), kept);
        }
        done += size;
        if (progress) {
            progress(done);
        }
    }
    return Outcome::Success();
}

}  // namespace sealbench
