// The virtual board's own count of what a flash program received in the
// streaming mode's blocks: it reads the host's bytes on their way to the program
// and counts the Block and Write frames whose CRC-32 holds, with a decoder of its
// own (flashlib/DATASHEET.md, "Frames from the host"), so that a test can prove
// how much a host sent without trusting the host's encoder or the library's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace vsim {

class StreamWitness {
public:
    void Bytes(const uint8_t* data, size_t n);

    uint64_t Blocks() const { return blocks_; }
    uint64_t PayloadBytes() const { return payloadBytes_; }

private:
    // Whether the 12 bytes collected can start a frame; its whole size when they can.
    bool Plausible(size_t* whole) const;
    void Frame();

    std::deque<uint8_t> pending_;
    std::vector<uint8_t> frame_;
    size_t whole_ = 0;
    uint64_t blocks_ = 0;
    uint64_t payloadBytes_ = 0;
};

}  // namespace vsim
