#include "range_session.h"

#include <algorithm>
#include <thread>

#include "flashlib/images.h"
#include "stream_compress.h"

namespace rangetest {

namespace fastwire = bootwire::stream;
using Clock = std::chrono::steady_clock;
using fastwire::Frame;
using std::chrono::milliseconds;

std::optional<Message> RangeSession::Ask(const std::vector<uint8_t>& frame, Reply want) {
    line_.send(frame);
    return Await(want);
}

std::optional<Message> RangeSession::Await(Reply want, milliseconds limit, Reply also) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        while (auto m = scanner_.Next()) {
            if (m->kind == want || m->kind == also || m->kind == Reply::Error) return m;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        const std::vector<uint8_t> bytes = line_.receive(scanner_.Missing(), left);
        scanner_.Add(bytes.data(), bytes.size());
    }
}

bool RangeSession::Start(int baud, const std::function<void()>& switchPort) {
    const auto hello = Ask(fastwire::EncodeFrame(Frame::Hello, 0, fastwire::kRangesVersion), Reply::Hello);
    if (!hello || hello->kind != Reply::Hello || hello->seq != fastwire::kRangesVersion) return false;
    const auto speed = Ask(fastwire::EncodeFrame(Frame::Speed, 0, static_cast<uint32_t>(baud)), Reply::Speed);
    if (!speed || speed->kind != Reply::Speed) return false;
    if (switchPort) switchPort();
    scanner_.Clear();
    for (int attempt = 0; attempt < 4; ++attempt) {
        line_.send(fastwire::EncodeFrame(Frame::Sync, 0, 0x5A5A0000u + static_cast<uint32_t>(attempt)));
        if (auto m = Await(Reply::Sync, milliseconds(500)); m && m->kind == Reply::Sync) return true;
    }
    return false;
}

std::optional<Message> RangeSession::Range(uint32_t address, uint32_t size, uint32_t partitionEnd, uint32_t blockSize) {
    seq_ = 0;
    return Ask(fastwire::EncodeRange(address, size, partitionEnd, blockSize), Reply::Range);
}

std::vector<uint64_t> RangeSession::Digests(uint32_t first, uint16_t count) {
    const auto m = Ask(fastwire::EncodeDigests(first, count), Reply::Digests);
    if (!m || m->kind != Reply::Digests || m->value != first) return {};
    return m->digests;
}

std::optional<Message> RangeSession::Write(uint32_t index, std::span<const uint8_t> data, bool stored) {
    const std::vector<uint8_t> payload = stored ? std::vector<uint8_t>(data.begin(), data.end()) : Deflate(data);
    return Ask(fastwire::EncodeWrite(seq_++, index, stored, payload), Reply::Accepted);
}

bool RangeSession::Stream(std::span<const uint8_t> image) {
    bootwire::stream::BlockCompressor compressor(image, fastwire::kMaxRangeBlock);
    bootwire::stream::StreamBlock block;
    while (compressor.Next(&block)) {
        const uint32_t argument = block.size | (block.stored ? fastwire::kStoredFlag : 0);
        const auto m = Ask(fastwire::EncodeFrame(Frame::Block, seq_++, argument, block.payload), Reply::Accepted);
        if (!m || m->kind != Reply::Accepted) return false;
    }
    return compressor.Error().empty();
}

std::optional<Message> RangeSession::Finish() {
    const auto deadline = Clock::now() + kAnswerLimit;
    while (Clock::now() < deadline) {
        line_.send(fastwire::EncodeFrame(Frame::Finish, 0, 0));
        // Progress while the library writes or reads back: ask again a little later.
        auto m = Await(Reply::Done, milliseconds(1000), Reply::Progress);
        if (m && m->kind != Reply::Progress) return m;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return std::nullopt;
}

bool RangeSession::Quit(const std::function<void()>& switchPort) {
    const auto speed = Ask(fastwire::EncodeFrame(Frame::Speed, 0, fastwire::kRomBaud), Reply::Speed);
    if (!speed || speed->kind != Reply::Speed) return false;
    if (switchPort) switchPort();
    scanner_.Clear();
    // The library switches once its answer has left: a goodbye sent at once may
    // meet it at the old rate, garbled. A host sends it again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        line_.send(fastwire::EncodeFrame(Frame::Quit, 0, 0));
        if (auto m = Await(Reply::Quit, milliseconds(1000)); m && m->kind == Reply::Quit) return true;
    }
    return false;
}

ByteLine SerialLine(bootwire::Transport* t) {
    return ByteLine{[t](const std::vector<uint8_t>& frame) { t->Send(frame.data(), frame.size(), nullptr); },
                    [t](size_t want, milliseconds timeout) {
                        std::vector<uint8_t> bytes(want);
                        size_t got = 0;
                        t->SetReceiveTimeoutLimit(static_cast<int>(timeout.count()) + 1);
                        t->Receive(bytes.data(), want, &got);
                        bytes.resize(got);
                        return bytes;
                    }};
}

bool LoadStreaming(bootwire::Link& link, std::span<const uint8_t> library, uint32_t ramBase, uint32_t flashAddress,
                   std::string* error) {
    std::vector<uint8_t> area(library.begin(), library.end());
    area.resize(0x10000, 0);
    uint8_t* params = area.data() + flashlib::kParameterBlockOffset;
    auto put = [&](uint32_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) params[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put(0x00, flashAddress);
    put(0x08, fastwire::kStreamRequest);
    put(0x10, ramBase + 0x10000);
    put(0x14, flashAddress);
    constexpr uint32_t kHead = bootwire::kApplicationHeadSize;
    const uint32_t code = flashlib::kCodeOffset;
    bootwire::Error e = link.FileDownload(bootwire::FileType::Image, ramBase + code + kHead, area.data() + code + kHead,
                                          library.size() - code - kHead);
    if (e == bootwire::Error::Ok)
        e = link.FileDownload(bootwire::FileType::Image, ramBase + flashlib::kParameterBlockOffset, params, 32);
    if (e == bootwire::Error::Ok)
        e = link.FileDownload(bootwire::FileType::Application, ramBase + code, area.data() + code, kHead);
    if (e == bootwire::Error::Ok) e = link.CompleteEndResponse();
    if (e != bootwire::Error::Ok) *error = link.ErrorDetail();
    return e == bootwire::Error::Ok;
}

std::vector<uint8_t> Deflate(std::span<const uint8_t> data) { return bootwire::stream::DeflateRaw(data); }

}  // namespace rangetest
