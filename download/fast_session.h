// The conversation with a flash library in streaming mode, once the boot ROM has
// started it: hello, the speed change and its proof, the blocks, the digest and
// the goodbye. Internal to RunFastFlash (fast_flash.cpp).
#pragma once

#include <bootwire/bootwire.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fast_flash.h"
#include "fast_wire.h"

namespace sealbench {

class FastSession {
public:
    // bitsPerByte: the line's frame (10 for 8N1, 12 for 8O2), for the line times
    // that bound the waits.
    FastSession(bootwire::Transport& transport, int bitsPerByte, const std::atomic<bool>& stop,
                const FastProgressObserver& observer, FastProgress& progress, FastFlashResult& result);

    // Each step returns false when the run must end; the result then says why.
    bool Hello();
    bool ChangeSpeed(int baud);
    // The blocks, then the library's digest; false also when the digest differs.
    bool Stream(std::span<const uint8_t> image);
    // Ends the session (the library returns to the boot ROM) and puts the host's
    // line back at 115200 baud. Safe after any failure.
    void Quit();

private:
    enum class Wait { Message, TimedOut, LinkLost };

    bool Send(const std::vector<uint8_t>& frame);
    // The next message within `limit`.
    Wait Await(std::chrono::milliseconds limit, fastwire::Message* message);
    bool SetSpeed(int baud);
    // After a failed speed change: waits until the library must have gone back to
    // 115200 and checks that it answers there.
    bool Recover(std::chrono::steady_clock::time_point switched);
    struct InFlight {
        uint16_t seq;
        uint32_t size;  // image bytes
        std::vector<uint8_t> frame;
    };
    // Sends the blocks in flight again, from the oldest; false after too many attempts.
    bool Resend(std::deque<InFlight>& inFlight, int* attempts);
    // Sends a frame until `answer` comes back; false when it never did.
    bool Exchange(fastwire::Frame kind, uint32_t argument, fastwire::Reply answer, int attempts);
    bool AwaitDigest(uint32_t* digest);
    bool LibraryError(const fastwire::Message& message);
    bool Fail(std::string text, std::string diagnostic = {});
    std::chrono::milliseconds LineTime(size_t bytes) const;
    void Report();
    bool Stopped();

    bootwire::Transport& transport_;
    int bitsPerByte_;
    const std::atomic<bool>& stop_;
    const FastProgressObserver& observer_;
    FastProgress& progress_;
    FastFlashResult& result_;
    fastwire::MessageScanner scanner_;
    bootwire::SendObserver sent_;
    size_t blockSize_ = 0;
    int baud_ = fastwire::kRomBaud;
    bool linkLost_ = false;
};

}  // namespace sealbench
