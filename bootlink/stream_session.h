// The conversation with a flash library in streaming mode, once the boot ROM has
// started it: hello, the speed change and its proof, the blocks, the digest and
// the goodbye. Internal to Link::StreamFlash (stream_flash.cpp).
#pragma once

#include <bootwire/bootwire.h>

#include <chrono>
#include <cstdint>
#include <deque>
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
    bool Hello();
    bool ChangeSpeed(int baud);
    // The blocks, then the library's digest; false also when the digest differs.
    bool Stream(std::span<const uint8_t> image);
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
    // Sends the blocks in flight again, from the oldest; false after too many attempts.
    bool Resend(std::deque<InFlight>& inFlight, int* attempts);
    // Sends a frame until `answer` comes back; false when it never did.
    bool Exchange(Frame kind, uint32_t argument, Reply answer, int attempts);
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
};

}  // namespace bootwire::stream
