// The requests of streaming protocol version 2 (flashlib/DATASHEET.md "Ranges"):
// naming a range, its blocks' digests, ranged writes, erase and the range's
// CRC-32. Members of stream::Session, beside the version 1 conversation in
// stream_session.cpp.
#include <algorithm>
#include <chrono>

#include "stream_compress.h"
#include "stream_session.h"

namespace bootwire::stream {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A request is answered as soon as the library has read or erased what it names;
// after this long without an answer the host asks how far it got (a Finish while
// it works is answered with its progress).
constexpr milliseconds kRequestQuiet{1000};
// No progress for this long while a request is served: the board is lost.
constexpr milliseconds kRequestSilence{15000};
// The longest answer: a Digests message with 512 digests and its tail's CRC.
constexpr size_t kLongestAnswer = kMessageSize + 8 * kMaxDigests + 4;

}  // namespace

bool Session::Request(const std::vector<uint8_t>& frame, Reply want, Message* answer) {
    if (!Send(frame)) return false;
    auto lastChange = Clock::now();
    auto quietUntil = lastChange + kRequestQuiet + LineTime(kLongestAnswer);
    uint32_t lastValue = 0;
    int lastState = 0;
    Message m;
    for (;;) {
        if (Stopped()) return Fail(Error::Stopped, "Stopped; the board is handed back to its boot ROM");
        const Wait w = Await(std::chrono::duration_cast<milliseconds>(quietUntil - Clock::now()), &m);
        if (w == Wait::LinkLost) return false;
        if (w == Wait::Message) {
            if (m.kind == want) {
                *answer = std::move(m);
                return true;
            }
            if (m.kind == Reply::Error) return LibraryError(m);
            if (m.kind == Reply::Progress) {
                if (m.value != lastValue || m.state != lastState) lastChange = Clock::now();
                lastValue = m.value;
                lastState = m.state;
                if (progress_.stage == StreamStage::Comparing || progress_.stage == StreamStage::Erasing) {
                    progress_.bytesProgrammed = std::max<uint64_t>(progress_.bytesProgrammed, progressBase_ + m.value);
                    Report();
                }
            }
            continue;  // an answer to an earlier Finish, or noise
        }
        if (Clock::now() - lastChange > kRequestSilence) {
            return Fail(Error::Timeout, "The board stopped answering while it read or erased the flash",
                        "no answer and no progress for " + std::to_string(kRequestSilence.count() / 1000) + " s");
        }
        if (!Send(EncodeFrame(Frame::Finish, 0, 0))) return false;
        quietUntil = Clock::now() + kRequestQuiet;
    }
}

bool Session::Range(const FlashRange& range, uint32_t blockSize, uint32_t* blocks) {
    writeSeq_ = 0;
    Message m;
    if (!Request(EncodeRange(range.address, range.size, range.partitionEnd, blockSize), Reply::Range, &m)) return false;
    const uint32_t expected = range.size / blockSize + (range.size % blockSize != 0);
    if (m.value != expected) {
        return Fail(Error::UnexpectedWord, "The flash library counted the range's blocks wrong",
                    "it has " + std::to_string(m.value) + " blocks of " + std::to_string(blockSize) +
                        " bytes where the host counts " + std::to_string(expected));
    }
    *blocks = m.value;
    return true;
}

bool Session::Digests(uint32_t first, uint16_t count, std::vector<uint64_t>* digests) {
    Message m;
    if (!Request(EncodeDigests(first, count), Reply::Digests, &m)) return false;
    if (m.value != first || m.digests.size() != count) {
        return Fail(Error::UnexpectedWord, "The flash library answered with the digests of other blocks",
                    "asked for " + std::to_string(count) + " from block " + std::to_string(first) + ", got " +
                        std::to_string(m.digests.size()) + " from block " + std::to_string(m.value));
    }
    digests->insert(digests->end(), m.digests.begin(), m.digests.end());
    return true;
}

bool Session::Write(std::span<const uint8_t> image, uint32_t blockSize, std::span<const uint32_t> indexes) {
    progress_.stage = StreamStage::Programming;
    Report();
    size_t next = 0;
    const uint16_t firstSeq = writeSeq_;
    const bool sent = SendBlocks(
        [&](uint16_t seq, InFlight* out) {
            if (next == indexes.size()) return false;
            const uint32_t index = indexes[next++];
            const size_t at = size_t{index} * blockSize;
            const std::span<const uint8_t> data = image.subspan(at, std::min<size_t>(blockSize, image.size() - at));
            std::optional<std::vector<uint8_t>> deflated = DeflateAlone(data);
            const bool stored = !deflated;
            const std::span<const uint8_t> payload = stored ? data : std::span<const uint8_t>(*deflated);
            *out = {seq, static_cast<uint32_t>(data.size()), EncodeWrite(seq, index, stored, payload), {}};
            report_.compressedBytes += payload.size();
            return true;
        },
        firstSeq);
    writeSeq_ = static_cast<uint16_t>(firstSeq + next);
    return sent;
}

bool Session::Erase(Erased* erased) {
    Message m;
    if (!Request(EncodeFrame(Frame::Erase, 0, 0), Reply::Erased, &m)) return false;
    *erased = m.erased;
    return true;
}

bool Session::RangeDigest(uint32_t* crc) { return AwaitDigest(crc); }

}  // namespace bootwire::stream
