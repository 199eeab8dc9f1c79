// An in-process board for the target core's tests: a bootwire::Transport that
// records every command frame and payload and answers like a boot ROM, with the
// flash library's status words taken from a list. Its frame decoding is written
// here, apart from the library's, so the two witness each other.
#pragma once

#include <bootwire/bootwire.h>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sealtest {

using Frame = std::array<uint8_t, 16>;

struct BoardRecord {
    std::vector<Frame> frames;
    std::vector<std::vector<uint8_t>> payloads;  // one per write-file header
    int registerWrites = 0;
    int statusQueries = 0;
};

class FakeBoard : public bootwire::Transport {
public:
    // Answers of the board; change them before the operation under test.
    int failRegisterWrite = 0;         // the Nth register write is refused
    bool complete = true;              // get-status answers 0x88888888
    std::deque<uint32_t> statusWords;  // flashing-status answers; empty: silence
    uint32_t readWord = 0x11223344;    // what memory reads return
    uint32_t sekurelWord = 0x12345678;

    bootwire::Error Send(const uint8_t* data, size_t n, const bootwire::SendObserver* sent) override {
        std::lock_guard lock(mutex_);
        if (payloadLeft_ > 0) {
            size_t take = std::min(n, payloadLeft_);
            record_.payloads.back().insert(record_.payloads.back().end(), data, data + take);
            payloadLeft_ -= take;
            if (sent != nullptr) (*sent)(n);
            return bootwire::Error::Ok;
        }
        if (n != 16) {
            return Fail(bootwire::Error::Io, "fake board: a send of " + std::to_string(n) + " bytes is no frame");
        }
        Frame f;
        std::copy(data, data + 16, f.begin());
        record_.frames.push_back(f);
        uint32_t count = Be(f, 7);
        if (f[0] == 0x94 && f[1] == 0x93) {
            ++record_.statusQueries;
            if (!statusWords.empty()) {
                Word(statusWords.front());
                statusWords.pop_front();
            }
        } else if (f[0] == 0x01 && f[1] == 0x01) {
            Word(bootwire::kWordAck);
            for (uint32_t i = 0; i < count; ++i) answer_.push_back(static_cast<uint8_t>(readWord >> (8 * (i % 4))));
        } else if (f[0] == 0x02 && f[1] == 0x02) {
            ++record_.registerWrites;
            bool refuse = record_.registerWrites == failRegisterWrite;
            Word(refuse ? 0xFFFFFFFF : bootwire::kWordAck);
            Word(refuse ? 0xFFFFFFFF : bootwire::kWordRegisterDone);
        } else if (f[0] == 0x04 && f[1] == 0x04) {
            Word(bootwire::kWordAck);
            record_.payloads.emplace_back();
            payloadLeft_ = count;
        } else if (f[0] == 0x05 && f[1] == 0x05) {
            Word(record_.payloads.empty() ? sekurelWord : (complete ? bootwire::kWordComplete : 0));
        }
        return bootwire::Error::Ok;
    }

    bootwire::Error Receive(uint8_t* data, size_t n, size_t* received) override {
        std::lock_guard lock(mutex_);
        size_t got = 0;
        while (got < n && !answer_.empty()) {
            data[got++] = answer_.front();
            answer_.pop_front();
        }
        if (received != nullptr) *received = got;
        if (got < n) {
            return Fail(bootwire::Error::Timeout, "fake board: no answer");
        }
        return bootwire::Error::Ok;
    }

    std::string Describe() const override { return "fake board"; }

    BoardRecord Record() {
        std::lock_guard lock(mutex_);
        return record_;
    }

    static uint32_t Be(const Frame& f, size_t at) {
        return static_cast<uint32_t>(f[at]) << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3];
    }

private:
    void Word(uint32_t w) {
        for (int i = 0; i < 4; ++i) answer_.push_back(static_cast<uint8_t>(w >> (8 * i)));
    }

    std::mutex mutex_;
    BoardRecord record_;
    std::deque<uint8_t> answer_;
    size_t payloadLeft_ = 0;
};

// A link over a fake board that the test keeps a pointer to.
struct FakeLink {
    FakeBoard* board;
    std::unique_ptr<bootwire::Link> link;
    FakeLink() {
        auto owned = std::make_unique<FakeBoard>();
        board = owned.get();
        link = std::make_unique<bootwire::Link>(std::move(owned));
    }
};

}  // namespace sealtest
