// The conversation with a flash library in streaming mode, once the boot ROM has
// started it: hello, the speed change and its proof, the blocks, the digest and
// the goodbye, and the requests of version 2 (ranges, their digests, ranged
// writes, erase; stream_requests.cpp). Internal to Link::StreamFlash
// (stream_flash.cpp) and the Link's sessions of ranges (stream_ranges.cpp).
#pragma once

#include <bootwire/bootwire.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "stream_wire.h"

namespace bootwire::stream {

// How a session ended badly: the kind, and the sentence a user reads.
struct Failure {
    Error error = Error::Ok;
    std::string reason;
};

class Session {
public:
    // bitsPerByte: the line's frame (10 for 8N1, 12 for 8O2), for the line times
    // that bound the waits.
    Session(Transport& transport, int bitsPerByte, std::stop_token stop, const StreamObserver& observer,
            StreamProgress& progress, StreamReport& report);

    // Each step returns false when the stream must end; failure() then says why.
    // `version`: the highest the host asks for (kRangesVersion for ranges).
    bool Hello(uint16_t version = kProtocolVersion);
    // What the library answered to Hello.
    uint16_t Version() const { return version_; }
    bool ChangeSpeed(int baud);
    // The blocks, then the library's digest; false also when the digest differs.
    bool Stream(std::span<const uint8_t> image);

    // Version 2. Range names the range in use; *blocks: how many it has.
    bool Range(const FlashRange& range, uint32_t blockSize, uint32_t* blocks);
    // The digests of blocks [first, first + count), count at most kMaxDigests.
    bool Digests(uint32_t first, uint16_t count, std::vector<uint64_t>* digests);
    // Ranged writes of the blocks `indexes` of `image` (blocks of `blockSize`), each
    // deflated on its own.
    bool Write(std::span<const uint8_t> image, uint32_t blockSize, std::span<const uint32_t> indexes);
    bool Erase(Erased* erased);
    // Finish until Done: the CRC-32 of the range as the flash holds it.
    bool RangeDigest(uint32_t* crc);
    // Progress reports add this to the bytes the library counts, so that one count
    // runs across the pieces of a range.
    void SetProgressBase(uint64_t bytes) { progressBase_ = bytes; }
    // A session of ranges serves calls that each bring their own stop.
    void SetStop(std::stop_token stop) { stop_ = std::move(stop); }
    // A failure of one request that the session survives (the library's own error,
    // answered until the next Range) is forgotten with this.
    void ClearFailure() { failure_ = {}; }
    bool LinkLost() const { return linkLost_; }
    // Ends the session (the library returns to the boot ROM) and puts the host's
    // line back at 115200 baud. Safe after any failure, and after a stop.
    void Quit();

    const Failure& failure() const { return failure_; }

private:
    enum class Wait { Message, TimedOut, LinkLost };

    bool Send(const std::vector<uint8_t>& frame);
    // The next message within `limit`.
    Wait Await(std::chrono::milliseconds limit, Message* message);
    bool SetSpeed(int baud);
    // After a failed speed change: waits until the library must have gone back to
    // 115200 and checks that it answers there.
    bool Recover(std::chrono::steady_clock::time_point switched);
    struct InFlight {
        uint16_t seq;
        uint32_t size;  // image bytes
        std::vector<uint8_t> frame;
        std::chrono::steady_clock::time_point sent;  // first sent
    };
    // The next block's frame for sequence number `seq`; false when there is none.
    using BlockSource = std::function<bool(uint16_t seq, InFlight* block)>;
    // Sends what `next` gives within the library's window until every block is
    // taken; the first block has sequence number `firstSeq`.
    bool SendBlocks(const BlockSource& next, uint16_t firstSeq = 0);
    // Sends the blocks in flight again, from the oldest; false after too many attempts.
    bool Resend(std::deque<InFlight>& inFlight, int* attempts);
    // Sends a frame until `answer` comes back; false when it never did.
    bool Exchange(Frame kind, uint32_t argument, Reply answer, int attempts);
    // A version 2 request: its answer of kind `want` (or the library's Error, which
    // fails it). While the library works on it, Finish asks for its progress.
    bool Request(const std::vector<uint8_t>& frame, Reply want, Message* answer);
    bool AwaitDigest(uint32_t* digest);
    bool LibraryError(const Message& message);
    bool Fail(Error error, std::string reason, std::string diagnostic = {});
    bool SlowerMayHelp(std::string reason);
    // The library's state as a stage of the stream.
    void Follow(int state);
    std::chrono::milliseconds LineTime(size_t bytes) const;
    void Report();
    bool Stopped();

    Transport& transport_;
    int bitsPerByte_;
    std::stop_token stop_;
    const StreamObserver& observer_;
    StreamProgress& progress_;
    StreamReport& report_;
    Failure failure_;
    MessageScanner scanner_;
    SendObserver sent_;
    size_t blockSize_ = 0;
    int baud_ = kRomBaud;
    bool linkLost_ = false;
    uint16_t version_ = kProtocolVersion;
    uint16_t writeSeq_ = 0;  // Write frames: from 0 after each Range
    uint64_t progressBase_ = 0;
};

}  // namespace bootwire::stream
