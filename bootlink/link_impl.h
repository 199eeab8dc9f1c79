// What a Link holds and the steps its commands share. Kept out of the installed
// header so that it can change without touching the library's interface; the
// streaming mode (stream_flash.cpp) works on the same state.
#pragma once

#include <bootwire/bootwire.h>

#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace bootwire {

namespace stream {
struct Ranges;
}

struct BOOTWIRE_NO_EXPORT Link::Impl {
    std::unique_ptr<Transport> transport;
    SendObserver observer;
    std::string detail;
    int receiveLimitMs = 0;
    std::stop_token stop;
    // An answer that ended short leaves the link unsettled: its missing bytes may
    // still come (a slow line, a TCP retransmission) and would be read as the start
    // of the next answer. `owed` counts them.
    bool unsettled = false;
    size_t owed = 0;

    Error SendFrame(const uint8_t* frame);
    Error SendPayload(const uint8_t* data, size_t size);
    Error Receive(uint8_t* data, size_t n, size_t* received);
    Error ReceiveWord(uint32_t* word);
    Error WriteFileHeader(uint32_t address, uint32_t size, FileType type);
    // Marks the link unsettled after a receive of `wanted` bytes that got `received`.
    void NoteShortAnswer(size_t wanted, size_t received);
    // Takes what an earlier answer still owed, and whatever else waits, off the line
    // before the next command, so that its answer is read from its first byte.
    void Resettle();
    // Records the failure in words, with what the transport said behind it.
    Error Fail(Error error, std::string what);
    // The detail of a stop, once it was asked for; Error::Ok otherwise.
    Error CheckStop();

    // While it lives, a stream may change the receive limit and the send observer;
    // both go back as they were when it ends, whatever happened.
    struct StreamGuard {
        Impl& link;
        ~StreamGuard() {
            link.observer = {};
            if (link.transport) link.transport->SetReceiveTimeoutLimit(link.receiveLimitMs);
        }
    };

    // Streaming mode (stream_flash.cpp): checks the job and the port's speeds, then
    // has the boot ROM load the library with `block` as its parameter block and
    // start it. `progress` and `report` follow the load.
    Error LoadStreaming(Link& link, const StreamJob& job, const std::vector<uint8_t>& block, StreamProgress& progress,
                        StreamReport& report, const StreamObserver& observer);
    // The open session of ranges (stream_ranges.cpp); it ends the session when it
    // goes, before the transport does (declared after it).
    std::unique_ptr<stream::Ranges, void (*)(stream::Ranges*)> ranges{nullptr, nullptr};
};

}  // namespace bootwire
