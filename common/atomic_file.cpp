// What AtomicFile does the same on every platform: its buffering and moves. The
// opening, writing and replacing are the platform's (atomic_file_posix.cpp,
// atomic_file_win32.cpp).
#include "common/atomic_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sealbench {
namespace {

constexpr size_t kBufferSize = 64 * 1024;

}  // namespace

AtomicFile::AtomicFile(std::string path, std::string tempPath, int fd)
    : path_(std::move(path)), tempPath_(std::move(tempPath)), fd_(fd), buffer_(new char[kBufferSize]) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : path_(std::move(other.path_)),
      tempPath_(std::exchange(other.tempPath_, std::string())),
      fd_(std::exchange(other.fd_, -1)),
      buffer_(std::move(other.buffer_)),
      used_(std::exchange(other.used_, 0)),
      error_(std::move(other.error_)),
      target_(std::move(other.target_)),
      direct_(other.direct_) {}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
    if (this != &other) {
        Discard();
        path_ = std::move(other.path_);
        tempPath_ = std::exchange(other.tempPath_, std::string());
        fd_ = std::exchange(other.fd_, -1);
        buffer_ = std::move(other.buffer_);
        used_ = std::exchange(other.used_, 0);
        error_ = std::move(other.error_);
        target_ = std::move(other.target_);
        direct_ = other.direct_;
    }
    return *this;
}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Write(const void* data, size_t size) {
    if (fd_ < 0 || !error_.empty()) {
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    // Callers that collect large pieces themselves need no second copy.
    if (size >= kBufferSize && Flush()) {
        return WriteAll(bytes, size);
    }
    while (size > 0) {
        if (used_ == kBufferSize && !Flush()) {
            return false;
        }
        size_t part = std::min(size, kBufferSize - used_);
        std::memcpy(buffer_.get() + used_, bytes, part);
        used_ += part;
        bytes += part;
        size -= part;
    }
    return true;
}

bool AtomicFile::Flush() {
    size_t used = std::exchange(used_, 0);
    return WriteAll(buffer_.get(), used);
}

Outcome WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
    std::string error;
    auto file = AtomicFile::Create(path, error);
    if (!file) {
        return Outcome::Failure(FailureKind::File, error);
    }
    if (!file->Write(bytes) || !file->Commit()) {
        return Outcome::Failure(FailureKind::File, file->Error());
    }
    return Outcome::Success();
}

}  // namespace sealbench
