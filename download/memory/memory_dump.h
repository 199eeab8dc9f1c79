// Reading a block of target memory (RAM, or NOR flash through its memory window)
// back to the host in pieces, so that a caller can show progress and stop between
// pieces, and keep each piece where it goes (a file) instead of the whole block in
// memory. Every receive is bounded; the block is whole or the read failed.
#pragma once

#include <bootwire/bootwire.h>

#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>

#include "common/outcome.h"

namespace sealbench {

// One read command carries this much: enough to keep the link busy, small enough
// for the bar to move on a serial line.
inline constexpr uint32_t kDumpPieceSize = 0x1000;

// Called after each piece with the bytes read so far.
using DumpProgress = std::function<void(uint64_t done)>;
// Takes each piece in order as it arrives; an empty text when it was kept, else
// why not (the read ends with it).
using DumpSink = std::function<std::string(std::span<const uint8_t> piece)>;

// `length` bytes from `address`, handed to `sink` piece by piece. A failure names
// the address where reading stopped; the range must not pass the end of the 32-bit
// address space.
Outcome ReadMemoryBlock(bootwire::Link& link, uint32_t address, uint32_t length, const DumpSink& sink,
                        const DumpProgress& progress = {}, std::stop_token stop = {});

}  // namespace sealbench
