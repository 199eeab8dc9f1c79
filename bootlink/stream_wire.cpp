#include "stream_wire.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace bootwire::stream {
namespace {

void Put32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t Get32(const uint8_t* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

bool KnownReply(uint8_t kind) {
    switch (static_cast<Reply>(kind)) {
        case Reply::Hello:
        case Reply::Speed:
        case Reply::Refused:
        case Reply::Sync:
        case Reply::Accepted:
        case Reply::Rejected:
        case Reply::Progress:
        case Reply::Done:
        case Reply::Error:
        case Reply::Quit:
        case Reply::Range:
        case Reply::Digests:
        case Reply::Erased:
            return true;
    }
    return false;
}

constexpr uint64_t kCrc64Polynomial = 0xC96C5795D7870F42;

std::array<uint64_t, 256> Crc64Table() {
    std::array<uint64_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint64_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? kCrc64Polynomial ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

}  // namespace

uint64_t Crc64(std::span<const uint8_t> data, uint64_t crc) {
    static const std::array<uint64_t, 256> table = Crc64Table();
    crc = ~crc;
    for (uint8_t b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint64_t ErasedDigest(uint32_t size) {
    const std::vector<uint8_t> erased(size, 0xFF);
    return Crc64(erased);
}

uint32_t Crc32(std::span<const uint8_t> data, uint32_t crc) {
    // zlib takes lengths as uInt; feed it in pieces that fit.
    constexpr size_t kPiece = 1u << 30;
    while (!data.empty()) {
        const size_t n = std::min(data.size(), kPiece);
        crc = static_cast<uint32_t>(::crc32(crc, data.data(), static_cast<uInt>(n)));
        data = data.subspan(n);
    }
    return crc;
}

std::optional<uint32_t> UartDivisor(int baud) {
    if (baud <= 0 || kUartClockBaud % baud != 0) {
        return std::nullopt;
    }
    const auto divisor = static_cast<uint32_t>(kUartClockBaud / baud);
    if (divisor > 0xFFFF) {
        return std::nullopt;
    }
    return divisor;
}

std::vector<uint8_t> EncodeFrame(Frame kind, uint16_t seq, uint32_t argument, std::span<const uint8_t> payload) {
    std::vector<uint8_t> frame(kFrameHeaderSize + payload.size() + kFrameTrailerSize);
    frame[0] = kFrameStart;
    frame[1] = static_cast<uint8_t>(kind);
    frame[2] = static_cast<uint8_t>(seq);
    frame[3] = static_cast<uint8_t>(seq >> 8);
    Put32(&frame[4], static_cast<uint32_t>(payload.size()));
    Put32(&frame[8], argument);
    std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
    const size_t body = kFrameHeaderSize + payload.size();
    Put32(&frame[body], Crc32(std::span(frame.data(), body)));
    return frame;
}

std::vector<uint8_t> EncodeRange(uint32_t address, uint32_t size, uint32_t partitionEnd, uint32_t blockSize) {
    uint8_t payload[kRangePayloadSize];
    Put32(payload, address);
    Put32(payload + 4, size);
    Put32(payload + 8, partitionEnd);
    return EncodeFrame(Frame::Range, 0, blockSize, payload);
}

std::vector<uint8_t> EncodeDigests(uint32_t first, uint16_t count) { return EncodeFrame(Frame::Digests, count, first); }

std::vector<uint8_t> EncodeWrite(uint16_t seq, uint32_t index, bool stored, std::span<const uint8_t> payload) {
    return EncodeFrame(Frame::Write, seq, index | (stored ? kStoredFlag : 0), payload);
}

std::optional<size_t> TailSize(const Message& m) {
    if (m.kind == Reply::Erased) return 16;
    if (m.kind != Reply::Digests) return 0;
    if (m.seq == 0 || m.seq > kMaxDigests) return std::nullopt;
    return size_t{8} * m.seq;
}

bool DecodeTail(std::span<const uint8_t> tail, Message* m) {
    const std::optional<size_t> size = TailSize(*m);
    if (!size || tail.size() != *size + 4 || Get32(&tail[*size]) != Crc32(tail.first(*size))) return false;
    if (m->kind == Reply::Erased) {
        m->erased = {Get32(&tail[0]), Get32(&tail[4]), Get32(&tail[8]), Get32(&tail[12])};
        return true;
    }
    m->digests.clear();
    for (size_t at = 0; at < *size; at += 8)
        m->digests.push_back(Get32(&tail[at]) | uint64_t{Get32(&tail[at + 4])} << 32);
    return true;
}

std::optional<Message> DecodeMessage(std::span<const uint8_t> bytes) {
    if (bytes.size() < kMessageSize || bytes[0] != kMessageStart || !KnownReply(bytes[1])) {
        return std::nullopt;
    }
    if (Get32(&bytes[12]) != Crc32(bytes.first(12))) {
        return std::nullopt;
    }
    Message m;
    m.kind = static_cast<Reply>(bytes[1]);
    m.seq = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
    m.state = bytes[4];
    m.reason = bytes[5];
    m.value = Get32(&bytes[8]);
    return m;
}

std::string ReasonText(uint8_t reason) {
    switch (static_cast<Reason>(reason)) {
        case Reason::None:
            return "no reason given";
        case Reason::Damaged:
            return "a frame arrived damaged";
        case Reason::Gap:
            return "a frame stopped arriving halfway";
        case Reason::Sequence:
            return "a block arrived out of order";
        case Reason::Job:
            return "the image does not fit the flash at that address or in that partition";
        case Reason::Flash:
            return "the flash did not take the data";
        case Reason::Data:
            return "a block's data did not decode to its announced size";
        case Reason::Speed:
            return "the board's UART cannot make that rate";
        case Reason::HostSilent:
            return "the host stayed silent";
        case Reason::Request:
            return "the request does not fit the range in use";
    }
    return "reason " + std::to_string(reason);
}

void MessageScanner::Add(const uint8_t* data, size_t n) { bytes_.insert(bytes_.end(), data, data + n); }

std::optional<Message> MessageScanner::Next() {
    size_t at = 0;
    std::optional<Message> found;
    while (at < bytes_.size()) {
        if (bytes_[at] != kMessageStart) {
            ++at;
            continue;
        }
        if (bytes_.size() - at < kMessageSize) {
            break;  // a message may still be arriving
        }
        found = DecodeMessage(std::span(bytes_).subspan(at, kMessageSize));
        const std::optional<size_t> tail = found ? TailSize(*found) : std::nullopt;
        if (found && tail && *tail != 0) {
            const size_t whole = kMessageSize + *tail + 4;
            if (bytes_.size() - at < whole) {
                found.reset();
                break;  // its tail may still be arriving
            }
            if (!DecodeTail(std::span(bytes_).subspan(at + kMessageSize, *tail + 4), &*found)) found.reset();
        } else if (found && !tail) {
            found.reset();
        }
        if (found) {
            at += kMessageSize + (tail ? *tail + (*tail ? 4 : 0) : 0);
            break;
        }
        ++at;  // a start byte that starts nothing
    }
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(at));
    return found;
}

size_t MessageScanner::Missing() const {
    // Next() leaves either nothing or a candidate start at the front.
    if (bytes_.size() < kMessageSize) return kMessageSize - bytes_.size();
    if (const auto m = DecodeMessage(std::span(bytes_).first(kMessageSize))) {
        const std::optional<size_t> tail = TailSize(*m);
        if (tail && *tail != 0 && bytes_.size() < kMessageSize + *tail + 4)
            return kMessageSize + *tail + 4 - bytes_.size();
    }
    return 1;
}

}  // namespace bootwire::stream
