#include "download/memory/memory_dump.h"

#include <algorithm>
#include <cstdio>

#include "download/run/run_sequence.h"

namespace sealbench {

Result<std::vector<uint8_t>> ReadMemoryBlock(bootwire::Link& link, uint32_t address, uint32_t length,
                                             const DumpProgress& progress, std::stop_token stop) {
    Result<std::vector<uint8_t>> result;
    if (length == 0 || static_cast<uint64_t>(address) + length > 0x100000000ull) {
        result.outcome = Outcome::Failure(FailureKind::Input,
                                          "The range must hold 1 byte or more and end at 0xFFFFFFFF at the latest");
        return result;
    }
    ReceiveLimit limit(link);
    std::vector<uint8_t>& bytes = result.value;
    bytes.resize(length);
    uint32_t done = 0;
    while (done < length) {
        if (stop.stop_requested()) {
            result.outcome = Outcome::Failure(FailureKind::Stopped, "The read was abandoned");
            return result;
        }
        uint32_t piece = std::min(kDumpPieceSize, length - done);
        if (bootwire::Error error = link.ReadData(address + done, bytes.data() + done, piece, 32);
            error != bootwire::Error::Ok) {
            char text[96];
            std::snprintf(text, sizeof text, "Reading stopped at 0x%08X after %u of %u bytes", address + done, done,
                          length);
            result.outcome = Outcome::Failure(FailureKind::Target, text, SilentBoardHint(error), link.ErrorDetail());
            return result;
        }
        done += piece;
        if (progress) {
            progress(done);
        }
    }
    return result;
}

}  // namespace sealbench
