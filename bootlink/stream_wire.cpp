#include "stream_wire.h"

#include <zlib.h>

#include <algorithm>

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
            return true;
    }
    return false;
}

}  // namespace

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
        if (found) {
            at += kMessageSize;
            break;
        }
        ++at;  // a start byte that starts nothing
    }
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(at));
    return found;
}

size_t MessageScanner::Missing() const {
    // Next() leaves either nothing or a candidate start at the front.
    return bytes_.size() < kMessageSize ? kMessageSize - bytes_.size() : 1;
}

}  // namespace bootwire::stream
