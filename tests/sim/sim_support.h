// Helpers for the virtual board's tests: frames built independently of the host
// library, and a host side that collects what the board sends.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/board.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Frame(uint8_t code, uint32_t addr, uint8_t format, uint32_t count, uint32_t data, uint8_t fileType) {
    return {code,
            code,
            uint8_t(addr >> 24),
            uint8_t(addr >> 16),
            uint8_t(addr >> 8),
            uint8_t(addr),
            format,
            uint8_t(count >> 24),
            uint8_t(count >> 16),
            uint8_t(count >> 8),
            uint8_t(count),
            uint8_t(data >> 24),
            uint8_t(data >> 16),
            uint8_t(data >> 8),
            uint8_t(data),
            fileType};
}

inline Bytes WriteReg(uint32_t addr, uint32_t value, uint8_t width = 32) { return Frame(2, addr, width, 0, value, 0); }
inline Bytes ReadMem(uint32_t addr, uint32_t count, uint8_t width = 32) { return Frame(1, addr, width, count, 0, 0); }
inline Bytes WriteFile(uint32_t addr, uint32_t count, uint8_t type) { return Frame(4, addr, 0, count, 0, type); }
inline Bytes GetStatus() { return Frame(5, 0, 0, 0, 0, 0); }
inline Bytes StatusQuery() {
    return {0x94, 0x93, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x90, 0x55, 0xAA, 0x55, 0xAA};
}

inline Bytes Word(uint32_t w) { return {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)}; }

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A payload whose bytes differ from one position to the next over long stretches.
inline Bytes Pattern(size_t n, uint32_t seed = 1) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = uint8_t(x >> 16);
    }
    return b;
}

// The host end of an in-process board.
class Host {
public:
    vsim::BoardLinks Links() {
        vsim::BoardLinks links;
        links.toHost = [this](vsim::Channel c, const uint8_t* d, size_t n) {
            std::lock_guard lock(mutex_);
            auto& q = out_[static_cast<int>(c)];
            q.insert(q.end(), d, d + n);
            changed_.notify_all();
        };
        links.log = [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            logs_.push_back(line);
        };
        links.usbDisconnect = [this] {
            std::lock_guard lock(mutex_);
            ++usbDisconnects_;
        };
        links.programEnded = [this] {
            std::lock_guard lock(mutex_);
            ++programEnds_;
            changed_.notify_all();
        };
        return links;
    }

    Bytes Take(vsim::Channel c = vsim::Channel::Serial) {
        std::lock_guard lock(mutex_);
        Bytes b;
        b.swap(out_[static_cast<int>(c)]);
        return b;
    }

    // Waits (bounded) until n bytes arrived on a channel; returns what arrived.
    Bytes TakeN(size_t n, vsim::Channel c = vsim::Channel::Serial, int seconds = 60) {
        std::unique_lock lock(mutex_);
        auto& q = out_[static_cast<int>(c)];
        changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return q.size() >= n; });
        size_t k = std::min(n, q.size());
        Bytes b(q.begin(), q.begin() + static_cast<ptrdiff_t>(k));
        q.erase(q.begin(), q.begin() + static_cast<ptrdiff_t>(k));
        return b;
    }

    bool WaitProgramEnd(int count, int seconds = 60) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return programEnds_ >= count; });
    }

    int UsbDisconnects() {
        std::lock_guard lock(mutex_);
        return usbDisconnects_;
    }

    bool Logged(const std::string& part) {
        std::lock_guard lock(mutex_);
        for (const auto& l : logs_) {
            if (l.find(part) != std::string::npos) return true;
        }
        return false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<Bytes, 2> out_;
    std::vector<std::string> logs_;
    int usbDisconnects_ = 0;
    int programEnds_ = 0;
};

inline size_t Feed(vsim::Board& board, const Bytes& bytes, vsim::Channel c = vsim::Channel::Serial) {
    return board.Feed(c, bytes.data(), bytes.size());
}

}  // namespace simtest
