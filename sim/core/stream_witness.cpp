#include "core/stream_witness.h"

namespace vsim {

namespace {

constexpr uint8_t kFrameStart = 0xF5;
constexpr size_t kHeader = 12;
constexpr size_t kTrailer = 4;
constexpr uint32_t kLargestPayload = 16384;

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// CRC-32 (IEEE, as zlib), bit by bit: the board's own, slow and plain.
uint32_t Crc32(const uint8_t* data, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

}  // namespace

bool StreamWitness::Plausible(size_t* whole) const {
    const uint32_t length = Le32(&frame_[4]);
    switch (frame_[1]) {
        case 'B':  // a block of the image in order
        case 'W':  // a block at an offset of a range
            if (length == 0 || length > kLargestPayload) return false;
            break;
        case 'R':
            if (length != 12) return false;
            break;
        case 'H':
        case 'S':
        case 'Y':
        case 'F':
        case 'Q':
        case 'C':
        case 'E':
            if (length != 0) return false;
            break;
        default:
            return false;
    }
    *whole = kHeader + length + kTrailer;
    return true;
}

void StreamWitness::Frame() {
    const size_t body = frame_.size() - kTrailer;
    if (Le32(&frame_[body]) != Crc32(frame_.data(), body)) {
        // Not a frame after all: one may start inside it.
        pending_.insert(pending_.begin(), frame_.begin() + 1, frame_.end());
        frame_.clear();
        return;
    }
    if (frame_[1] == 'B' || frame_[1] == 'W') {
        ++blocks_;
        payloadBytes_ += body - kHeader;
    }
    frame_.clear();
}

void StreamWitness::Bytes(const uint8_t* data, size_t n) {
    pending_.insert(pending_.end(), data, data + n);
    while (!pending_.empty()) {
        const uint8_t byte = pending_.front();
        pending_.pop_front();
        if (frame_.empty() && byte != kFrameStart) continue;
        frame_.push_back(byte);
        if (frame_.size() == kHeader && !Plausible(&whole_)) {
            pending_.insert(pending_.begin(), frame_.begin() + 1, frame_.end());
            frame_.clear();
            continue;
        }
        if (frame_.size() > kHeader && frame_.size() == whole_) Frame();
    }
}

}  // namespace vsim
