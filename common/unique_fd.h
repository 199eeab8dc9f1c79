// A file descriptor that closes itself: the one owner of every descriptor the
// library, the virtual board and the file tools open.
#pragma once

#include <unistd.h>

#include <utility>

namespace sealbench {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Closes what is held and takes `fd` instead.
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

}  // namespace sealbench
