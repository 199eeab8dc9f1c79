// The boot protocol over one transport: frames out, response words in, payloads
// cut into sends of at most 64 KiB and images into pieces of at most 0x1F0000.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>

#include "control_lines.h"
#include "link_impl.h"
#include "protocol.h"

namespace bootwire {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes an answer still owes may be held up as long as a receive waits for any
// byte; whatever else is left over is on the line already. A port that keeps on
// talking (a console) is left after a bounded while: its answers will not fit.
constexpr int kOwedWaitMs = 3000;
constexpr int kQuietMs = 50;
constexpr size_t kSettleBytes = 64 * 1024;
constexpr auto kSettleTime = std::chrono::seconds(5);

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

void Link::Impl::NoteShortAnswer(size_t wanted, size_t received) {
    unsettled = true;
    // An answer of which nothing came may never come; one that began will end.
    if (received > 0 && received < wanted) {
        owed += wanted - received;
    }
}

void Link::Impl::Resettle() {
    if (!unsettled || !transport) {
        return;
    }
    unsettled = false;
    size_t left = std::exchange(owed, 0);
    const auto until = Clock::now() + kSettleTime;
    uint8_t scrap[512];
    size_t taken = 0;
    while (taken < kSettleBytes && Clock::now() < until && !stop.stop_requested()) {
        const size_t want = left > 0 ? std::min(left, sizeof scrap) : sizeof scrap;
        transport->SetReceiveTimeoutLimit(left > 0 ? kOwedWaitMs : kQuietMs);
        size_t got = 0;
        const Error e = transport->Receive(scrap, want, &got);
        taken += got;
        if (left > 0 && got == want) {
            left -= got;
            continue;
        }
        left = 0;
        if (got == 0 || (e != Error::Ok && e != Error::Timeout && e != Error::NoAnswer)) {
            break;
        }
    }
    transport->SetReceiveTimeoutLimit(receiveLimitMs);
    // The waits above end in time-outs that say nothing about the next command.
    transport->ForgetDetail();
}

Error Link::Impl::Fail(Error error, std::string what) {
    detail = std::move(what);
    if (transport && !transport->LastDetail().empty()) {
        detail += " (" + transport->LastDetail() + ")";
    }
    return error;
}

Error Link::Impl::CheckStop() {
    if (stop.stop_requested()) {
        detail = "stopped on request";
        return Error::Stopped;
    }
    return Error::Ok;
}

Error Link::Impl::SendFrame(const uint8_t* frame) {
    if (!transport) {
        return Fail(Error::NotOpen, "no port or device is open");
    }
    Resettle();
    if (Error e = CheckStop(); e != Error::Ok) {
        return e;
    }
    Error error = transport->Send(frame, kFrameSize, nullptr);
    if (error != Error::Ok) {
        return Fail(error, "the command could not be sent");
    }
    return Error::Ok;
}

Error Link::Impl::SendPayload(const uint8_t* data, size_t size) {
    if (!transport) {
        return Fail(Error::NotOpen, "no port or device is open");
    }
    // What left the host of a slice that failed counts too: the message says how far
    // the data got, as the caller's own count of sent bytes does.
    size_t moved = 0;
    const SendObserver counted = [this, &moved](size_t bytes) {
        moved += bytes;
        if (observer) observer(bytes);
    };
    // A slow line is fed in slices, so that a stop ends a 64 KiB send in well under a second.
    const size_t slice = transport->StopSlice() > 0 ? transport->StopSlice() : kMaxSendSize;
    for (size_t offset = 0; offset < size;) {
        if (Error e = CheckStop(); e != Error::Ok) {
            return e;
        }
        size_t n = std::min({kMaxSendSize, slice, size - offset});
        moved = 0;
        Error error = transport->Send(data + offset, n, &counted);
        if (error != Error::Ok) {
            return Fail(error, "the target did not take the data (" + std::to_string(offset + std::min(moved, n)) +
                                   " of " + std::to_string(size) + " bytes sent)");
        }
        offset += n;
    }
    return Error::Ok;
}

Error Link::Impl::Receive(uint8_t* data, size_t n, size_t* received) {
    *received = 0;
    if (!transport) {
        return Fail(Error::NotOpen, "no port or device is open");
    }
    if (Error e = CheckStop(); e != Error::Ok) {
        return e;
    }
    return transport->Receive(data, n, received);
}

Error Link::Impl::ReceiveWord(uint32_t* word) {
    uint8_t bytes[4] = {};
    size_t received = 0;
    Error error = Receive(bytes, sizeof bytes, &received);
    if (error == Error::Stopped || error == Error::NotOpen) {
        return error;
    }
    if (received < sizeof bytes) {
        // A partial word is not a word: what arrived is dropped, and the rest of it
        // is taken off the line before the next command.
        NoteShortAnswer(sizeof bytes, received);
        return Fail(error == Error::Ok ? Error::NoAnswer : error,
                    "no answer from the target (" + std::to_string(received) + " of 4 bytes)");
    }
    *word = protocol::DecodeWord(bytes);
    return Error::Ok;
}

Error Link::Impl::WriteFileHeader(uint32_t address, uint32_t size, FileType type) {
    auto frame = protocol::WriteFileFrame(address, size, type);
    if (Error e = SendFrame(frame.data()); e != Error::Ok) {
        return e;
    }
    // The word's value does not matter, but a target that does not answer the
    // header will not take the data either.
    uint32_t word = 0;
    return ReceiveWord(&word);
}

Link::Link() : impl_(std::make_unique<Impl>()) {}
Link::Link(std::unique_ptr<Transport> transport) : impl_(std::make_unique<Impl>()) {
    impl_->transport = std::move(transport);
}
Link::~Link() = default;

void Link::Attach(std::unique_ptr<Transport> transport) {
    // The old transport closes its port before the new one is used, so an exclusive
    // port can be chosen again.
    impl_->ranges.reset();  // its goodbye goes over the old transport
    impl_->transport.reset();
    impl_->transport = std::move(transport);
    if (impl_->transport && impl_->receiveLimitMs > 0) {
        impl_->transport->SetReceiveTimeoutLimit(impl_->receiveLimitMs);
    }
}

void Link::Detach() {
    impl_->ranges.reset();
    impl_->transport.reset();
}

bool Link::IsOpen() const { return impl_->transport != nullptr; }

std::string Link::Describe() const { return impl_->transport ? impl_->transport->Describe() : std::string(); }

void Link::SetStopToken(std::stop_token stop) { impl_->stop = std::move(stop); }

Error Link::SetLineSpeed(int baud) {
    if (!impl_->transport) {
        return impl_->Fail(Error::NotOpen, "no port or device is open");
    }
    if (Error e = impl_->transport->SetLineSpeed(baud); e != Error::Ok) {
        impl_->detail = impl_->transport->LastDetail();
        return e;
    }
    return Error::Ok;
}

const std::string& Link::ErrorDetail() const { return impl_->detail; }

void Link::SetSendObserver(SendObserver observer) { impl_->observer = std::move(observer); }

void Link::SetReceiveTimeoutLimit(int milliseconds) {
    impl_->receiveLimitMs = milliseconds;
    if (impl_->transport) {
        impl_->transport->SetReceiveTimeoutLimit(milliseconds);
    }
}

Error Link::SetControlLine(ControlLine line, bool on) {
    if (!impl_->transport) {
        return impl_->Fail(Error::NotOpen, "no port or device is open");
    }
    if (Error e = impl_->transport->SetControlLine(line, on); e != Error::Ok) {
        return impl_->Fail(e, "cannot set " + ControlLineText(line, on));
    }
    return Error::Ok;
}

Error Link::WriteRegister(uint32_t address, uint32_t value, uint8_t format, int processorCode, uint32_t* firstWord) {
    auto frame = protocol::WriteRegisterFrame(address, value, format);
    if (Error e = impl_->SendFrame(frame.data()); e != Error::Ok) {
        return e;
    }
    uint32_t word = 0;
    if (Error e = impl_->ReceiveWord(&word); e != Error::Ok) {
        return e;
    }
    if (firstWord) {
        *firstWord = word;
    }
    // Processor codes 0 and 1 accept any first word; the second word decides.
    if (word != kWordAck && processorCode != 0 && processorCode != 1) {
        return impl_->Fail(Error::UnexpectedWord, "register write at " + Hex(address) + " answered " + Hex(word));
    }
    if (Error e = impl_->ReceiveWord(&word); e != Error::Ok) {
        return e;
    }
    if (word != kWordRegisterDone) {
        return impl_->Fail(Error::UnexpectedWord, "register write at " + Hex(address) + " ended with " + Hex(word));
    }
    return Error::Ok;
}

Error Link::ReadData(uint32_t address, uint8_t* dest, size_t count, uint8_t format) {
    auto frame = protocol::ReadMemoryFrame(address, static_cast<uint32_t>(count), format);
    if (Error e = impl_->SendFrame(frame.data()); e != Error::Ok) {
        return e;
    }
    uint32_t word = 0;
    if (Error e = impl_->ReceiveWord(&word); e != Error::Ok) {
        return e;
    }
    // The data are taken whatever the first word was: the classic interface hands
    // them on, and they must not be left on the line.
    size_t received = 0;
    Error error = impl_->Receive(dest, count, &received);
    if (error == Error::Stopped) {
        return error;
    }
    if (received < count) {
        impl_->NoteShortAnswer(count, received);
    }
    if (word != kWordAck) {
        // A console, or a board running its firmware, prints text where the boot ROM
        // acknowledges; that text must not be taken for memory.
        impl_->unsettled = true;
        impl_->detail = kNotBootRomAnswer;
        impl_->detail += ": read at " + Hex(address) + " was answered " + Hex(word) + " instead of " + Hex(kWordAck);
        return received < count ? Error::NoAnswer : Error::UnexpectedWord;
    }
    if (received < count) {
        return impl_->Fail(error == Error::Ok ? Error::NoAnswer : error, "read at " + Hex(address) + " delivered " +
                                                                             std::to_string(received) + " of " +
                                                                             std::to_string(count) + " bytes");
    }
    return Error::Ok;
}

Error Link::GetStatus(uint32_t* word) {
    auto frame = protocol::GetStatusFrame();
    if (Error e = impl_->SendFrame(frame.data()); e != Error::Ok) {
        return e;
    }
    return impl_->ReceiveWord(word);
}

Error Link::CompleteEndResponse() {
    uint32_t word = 0;
    if (Error e = GetStatus(&word); e != Error::Ok) {
        return e;
    }
    if (word != kWordComplete) {
        return impl_->Fail(Error::UnexpectedWord, "the target did not complete: it answered " + Hex(word));
    }
    return Error::Ok;
}

Error Link::FlashingStatus(uint32_t* word) {
    auto frame = protocol::FlashingStatusQuery();
    if (Error e = impl_->SendFrame(frame.data()); e != Error::Ok) {
        return e;
    }
    return impl_->ReceiveWord(word);
}

Error Link::FileDownload(FileType type, uint32_t address, const uint8_t* data, size_t size) {
    if (Error e = impl_->WriteFileHeader(address, static_cast<uint32_t>(size), type); e != Error::Ok) {
        return e;
    }
    return impl_->SendPayload(data, size);
}

Error Link::ImageDownload(uint32_t address, const uint8_t* data, size_t size, size_t bufferSize) {
    bufferSize = std::max(bufferSize, size);
    uint32_t pieceAddress = address;
    size_t offset = 0;
    size_t remaining = size;
    do {
        size_t piece = std::min(remaining, kImagePieceSize);
        remaining -= piece;
        if (Error e = impl_->WriteFileHeader(pieceAddress, static_cast<uint32_t>(piece), FileType::Image);
            e != Error::Ok) {
            return e;
        }
        if (Error e = impl_->SendPayload(data + offset, piece); e != Error::Ok) {
            return e;
        }
        offset += piece;
        pieceAddress += static_cast<uint32_t>(kImagePieceSize);
    } while (remaining != 0);

    if (Error e = impl_->WriteFileHeader(address, kApplicationHeadSize, FileType::Application); e != Error::Ok) {
        return e;
    }
    // The boot ROM takes the image's first 1024 bytes once more; a buffer shorter
    // than that is padded with zeros rather than read past its end.
    if (bufferSize >= kApplicationHeadSize) {
        return impl_->SendPayload(data, kApplicationHeadSize);
    }
    uint8_t head[kApplicationHeadSize] = {};
    if (bufferSize > 0) {
        std::memcpy(head, data, bufferSize);
    }
    return impl_->SendPayload(head, kApplicationHeadSize);
}

}  // namespace bootwire
