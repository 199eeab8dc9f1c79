#include "core/pacer.h"

namespace vsim {

namespace {

// Nanoseconds times the line rate overflow 64 bits after a few days of a busy line.
__extension__ typedef unsigned __int128 Wide;

}  // namespace

size_t Pacer::Allowed(Clock::time_point now) {
    if (!busy_) {
        busy_ = true;
        start_ = now;
        moved_ = 0;
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start_).count();
    if (elapsed <= 0) return 0;
    Wide bits = static_cast<Wide>(elapsed) * baud_;
    uint64_t due = static_cast<uint64_t>(bits / (uint64_t{1000000000} * bitsPerByte_));
    return due > moved_ ? static_cast<size_t>(due - moved_) : 0;
}

Pacer::Clock::time_point Pacer::When(size_t n) const {
    Wide bits = static_cast<Wide>(moved_ + n) * bitsPerByte_ * 1000000000u;
    // Round up so that at the returned time the bytes are due.
    auto ns = static_cast<int64_t>((bits + baud_ - 1) / baud_);
    return start_ + std::chrono::nanoseconds(ns);
}

}  // namespace vsim
