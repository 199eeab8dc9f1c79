// What a Link holds and the steps its commands share. Kept out of the installed
// header so that it can change without touching the library's interface; the
// streaming mode (stream_flash.cpp) works on the same state.
#pragma once

#include <bootwire/bootwire.h>

#include <memory>
#include <stop_token>
#include <string>

namespace bootwire {

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
};

}  // namespace bootwire
