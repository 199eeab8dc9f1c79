// A host for the ranges of the flash libraries' streaming mode (protocol
// version 2, flashlib/DATASHEET.md "Ranges"), for tests: it sends the frames the
// host's encoders make and waits, bounded, for the library's messages, over any
// byte line (the in-process board, or the real vireo-sim process's pty).
#pragma once

#include <bootwire/bootwire.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "stream_wire.h"

namespace rangetest {

using bootwire::stream::Message;
using bootwire::stream::Reply;

struct ByteLine {
    std::function<void(const std::vector<uint8_t>&)> send;
    // What arrived within the time-out (empty when nothing did); `want` bytes
    // would complete what is being waited for.
    std::function<std::vector<uint8_t>(size_t want, std::chrono::milliseconds timeout)> receive;
};

// Far longer than any answer takes on a loaded machine; reaching it means a hang.
inline constexpr std::chrono::seconds kAnswerLimit{60};

class RangeSession {
public:
    explicit RangeSession(ByteLine line) : line_(std::move(line)) {}

    // Sends a frame; the first message of kind `want`, or an Error, within the limit.
    std::optional<Message> Ask(const std::vector<uint8_t>& frame, Reply want);
    // The first message of kind `want` or `also`, or an Error.
    std::optional<Message> Await(Reply want, std::chrono::milliseconds limit = kAnswerLimit, Reply also = Reply::Error);

    // Hello for version 2 and a speed change to `baud` (the caller switches its
    // port between them when the rate changes), proven by a Sync.
    bool Start(int baud, const std::function<void()>& switchPort = {});
    std::optional<Message> Range(uint32_t address, uint32_t size, uint32_t partitionEnd, uint32_t blockSize);
    // The digests of blocks [first, first + count); empty after an error.
    std::vector<uint64_t> Digests(uint32_t first, uint16_t count);
    // One ranged block, deflated unless `stored`, answered with Accepted or an Error.
    std::optional<Message> Write(uint32_t index, std::span<const uint8_t> data, bool stored = false);
    // The range written in order: the host's compressor, blocks one at a time.
    bool Stream(std::span<const uint8_t> image);
    // Polls Finish until Done (its digest) or an Error.
    std::optional<Message> Finish();
    // Back to 115200 baud and Quit.
    bool Quit(const std::function<void()>& switchPort = {});

private:
    ByteLine line_;
    bootwire::stream::MessageScanner scanner_;
    uint16_t seq_ = 0;
};

// The serial transport as a byte line.
ByteLine SerialLine(bootwire::Transport* transport);

// Has the boot ROM load a built-in library in streaming mode with no image of its
// own (the code after its head, the parameter block, then the head as the
// application) and start it. The board's RAM base and the flash address the
// parameter block names; false with the link's detail when a load failed.
bool LoadStreaming(bootwire::Link& link, std::span<const uint8_t> library, uint32_t ramBase, uint32_t flashAddress,
                   std::string* error);

// A block's own raw deflate stream, as a host makes it for a ranged write.
std::vector<uint8_t> Deflate(std::span<const uint8_t> data);

}  // namespace rangetest
