// Reading a block of target memory (RAM, or NOR flash through its memory window)
// back to the host in pieces, so that a caller can show progress and stop between
// pieces. Every receive is bounded; the block is whole or the read failed.
#pragma once

#include <bootwire/bootwire.h>

#include <cstdint>
#include <functional>
#include <stop_token>
#include <vector>

#include "common/outcome.h"

namespace sealbench {

// One read command carries this much: enough to keep the link busy, small enough
// for the bar to move on a serial line.
inline constexpr uint32_t kDumpPieceSize = 0x1000;

// Called after each piece with the bytes read so far.
using DumpProgress = std::function<void(uint64_t done)>;

// `length` bytes from `address`. A failure names the address where reading stopped;
// the address range must not pass the end of the 32-bit address space.
Result<std::vector<uint8_t>> ReadMemoryBlock(bootwire::Link& link, uint32_t address, uint32_t length,
                                             const DumpProgress& progress = {}, std::stop_token stop = {});

}  // namespace sealbench
