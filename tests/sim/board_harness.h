// A virtual board in the test process: RAM as the boot ROM leaves it after a
// FLASHING download (library area, parameter block, image), the real flash
// models, and the host's side of the report channels.
#pragma once

#include <sys/mman.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

#include "core/program.h"
#include "flash/board_map.h"
#include "flash/vireo_board_flash.h"
#include "flashlib/images.h"

namespace vsim::test {

inline constexpr uint32_t kStateErasing = 0xA1;
inline constexpr uint32_t kStateProgramming = 0xA2;
inline constexpr uint32_t kStateVerifying = 0xA3;
inline constexpr uint32_t kStateEraseError = 0xB1;
inline constexpr uint32_t kStateProgramError = 0xB2;
inline constexpr uint32_t kStateVerifyError = 0xB3;
inline constexpr uint32_t kStateDone = 0xB4;

// Generous: the machine running the tests may be loaded.
inline constexpr auto kAnswerTimeout = std::chrono::seconds(60);

inline std::vector<uint8_t> RandomImage(size_t size, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(size);
    for (auto& byte : image) byte = static_cast<uint8_t>(random());
    return image;
}

class Board {
public:
    explicit Board(Cpu cpu) : cpu_(cpu), map_(MapOf(cpu)), flash_(std::make_unique<VireoBoardFlash>(cpu)) {
        void* p = mmap(nullptr, map_.ramSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        ram_ = static_cast<uint8_t*>(p);
    }
    ~Board() {
        program_.reset();
        munmap(ram_, map_.ramSize);
    }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    VireoBoardFlash& Flash() { return *flash_; }
    const BoardMap& Map() const { return map_; }
    uint8_t* Ram() { return ram_; }

    // The download buffer's layout: library area from offset 0, image at 0x10000.
    void LoadLibrary(std::span<const uint8_t> library) {
        std::memcpy(ram_ + flashlib::kCodeOffset, library.data() + flashlib::kCodeOffset,
                    library.size() - flashlib::kCodeOffset);
    }
    void LoadCode(std::span<const uint32_t> words, uint32_t offset = flashlib::kCodeOffset) {
        std::memcpy(ram_ + offset, words.data(), words.size() * 4);
    }
    void LoadJob(uint32_t flashAddress, std::span<const uint8_t> image, Channel channel, uint32_t partitionEnd = 0) {
        if (!image.empty()) std::memcpy(ram_ + 0x10000, image.data(), image.size());
        PutWord(0xFFE0, flashAddress);
        PutWord(0xFFE4, partitionEnd);
        PutWord(0xFFF0, map_.ramBase + 0x10000);
        PutWord(0xFFF4, flashAddress);
        PutWord(0xFFF8, static_cast<uint32_t>(image.size()));
        PutWord(0xFFFC, channel == Channel::Usb ? 1 : 0);
    }
    void PutWord(uint32_t offset, uint32_t value) { std::memcpy(ram_ + offset, &value, 4); }

    void Start(const ProgramFactory& factory, uint32_t entryOffset = flashlib::kCodeOffset) {
        ProgramContext context;
        context.cpu = cpu_;
        context.ramBase = map_.ramBase;
        context.ram = ram_;
        context.ramSize = map_.ramSize;
        context.flash = flash_.get();
        context.entry = map_.ramBase + entryOffset;
        context.toHost = [this](Channel channel, const uint8_t* data, size_t n) {
            std::lock_guard lock(mutex_);
            auto& to = received_[static_cast<int>(channel)];
            to.insert(to.end(), data, data + n);
            changed_.notify_all();
        };
        context.ended = [this](bool backToRom) {
            std::lock_guard lock(mutex_);
            ended_ = backToRom;
            changed_.notify_all();
        };
        program_ = factory(context);
        program_->Start();
    }

    Program& Running() { return *program_; }
    void StopProgram() { program_->Stop(); }

    // Sends one status query; the state code answered, or nothing within the time-out.
    std::optional<uint32_t> Query(Channel channel, std::chrono::milliseconds timeout = kAnswerTimeoutMs()) {
        std::optional<uint32_t> word = QueryWord(channel, timeout);
        if (!word) return std::nullopt;
        return *word >> 16;
    }

    // The whole answer word: the state code and, from the built-in libraries, the stage's progress.
    std::optional<uint32_t> QueryWord(Channel channel, std::chrono::milliseconds timeout = kAnswerTimeoutMs()) {
        static constexpr uint8_t kQuery[16] = {0x94, 0x93, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12,
                                               0xEF, 0xCD, 0xAB, 0x90, 0x55, 0xAA, 0x55, 0xAA};
        std::unique_lock lock(mutex_);
        auto& from = received_[static_cast<int>(channel)];
        const size_t before = from.size();
        lock.unlock();
        program_->HostBytes(channel, kQuery, sizeof kQuery);
        lock.lock();
        if (!changed_.wait_for(lock, timeout, [&] { return from.size() >= before + 4; })) return std::nullopt;
        uint32_t word;
        std::memcpy(&word, from.data() + before, 4);
        return word;
    }

    // Polls like the host does until a final state; every state seen, in order.
    std::vector<uint32_t> PollToEnd(Channel channel) {
        std::vector<uint32_t> states;
        for (;;) {
            const auto state = Query(channel);
            if (!state) break;
            if (states.empty() || states.back() != *state) states.push_back(*state);
            if (*state >= kStateEraseError) break;
        }
        return states;
    }

    // How the program ended: true back to the boot ROM, false crashed; nothing yet.
    std::optional<bool> WaitEnded(std::chrono::milliseconds timeout = kAnswerTimeoutMs()) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return ended_.has_value(); });
        return ended_;
    }

    size_t ReceivedBytes(Channel channel) {
        std::lock_guard lock(mutex_);
        return received_[static_cast<int>(channel)].size();
    }

    // What the program sent on a channel from byte `from` on, once there is any
    // (empty when nothing came within the time-out).
    std::vector<uint8_t> ReceivedFrom(Channel channel, size_t from, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        auto& bytes = received_[static_cast<int>(channel)];
        changed_.wait_for(lock, timeout, [&] { return bytes.size() > from; });
        if (bytes.size() <= from) return {};
        return std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(from), bytes.end());
    }

    std::vector<uint8_t> Nor(uint32_t offset, size_t size) const {
        std::vector<uint8_t> out(size);
        for (size_t i = 0; i < size; ++i) out[i] = flash_->Nor().Peek(offset + static_cast<uint32_t>(i));
        return out;
    }
    std::vector<uint8_t> Nand(uint32_t offset, size_t size) const {
        std::vector<uint8_t> out(size);
        for (size_t i = 0; i < size; ++i) out[i] = flash_->Nand()->PeekData(offset + static_cast<uint32_t>(i));
        return out;
    }

    static constexpr std::chrono::milliseconds kAnswerTimeoutMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(kAnswerTimeout);
    }

private:
    Cpu cpu_;
    BoardMap map_;
    std::unique_ptr<VireoBoardFlash> flash_;
    uint8_t* ram_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint8_t> received_[2];
    std::optional<bool> ended_;
    std::unique_ptr<Program> program_;
};

}  // namespace vsim::test
