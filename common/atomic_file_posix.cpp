#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/atomic_file.h"

namespace sealbench {
namespace {

constexpr size_t kBufferSize = 64 * 1024;

std::string Describe(std::string_view what, const std::string& path, int error) {
    std::string text(what);
    text += " ";
    text += path;
    text += ": ";
    text += std::strerror(error);
    return text;
}

// mkstemp creates files readable by the owner only; a finished file should get
// the permissions any newly created file would. The umask can only be read by
// setting it, so do that once, before threads are likely to exist.
mode_t NewFileMode() {
    static const mode_t mode = [] {
        mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

AtomicFile::AtomicFile(std::string path, std::string tempPath, int fd)
    : path_(std::move(path)), tempPath_(std::move(tempPath)), fd_(fd), buffer_(new char[kBufferSize]) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : path_(std::move(other.path_)),
      tempPath_(std::move(other.tempPath_)),
      fd_(std::exchange(other.fd_, -1)),
      buffer_(std::move(other.buffer_)),
      used_(std::exchange(other.used_, 0)),
      error_(std::move(other.error_)) {
    other.tempPath_.clear();
}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
    if (this != &other) {
        Discard();
        path_ = std::move(other.path_);
        tempPath_ = std::exchange(other.tempPath_, std::string());
        fd_ = std::exchange(other.fd_, -1);
        buffer_ = std::move(other.buffer_);
        used_ = std::exchange(other.used_, 0);
        error_ = std::move(other.error_);
    }
    return *this;
}

AtomicFile::~AtomicFile() { Discard(); }

std::unique_ptr<AtomicFile> AtomicFile::Create(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "No output file given";
        return nullptr;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = "Cannot write " + path + ": it is a folder";
        return nullptr;
    }
    std::string pattern = FolderOf(path) + "/." + BaseOf(path) + ".XXXXXX";
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = Describe("Cannot create a file beside", path, errno);
        return nullptr;
    }
    if (::fchmod(fd, NewFileMode()) != 0) {
        int saved = errno;
        ::close(fd);
        ::unlink(pattern.c_str());
        error = Describe("Cannot set the permissions of", pattern, saved);
        return nullptr;
    }
    return std::unique_ptr<AtomicFile>(new AtomicFile(path, pattern, fd));
}

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

bool AtomicFile::WriteAll(const char* bytes, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd_, bytes, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail("Cannot write");
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool AtomicFile::Fail(std::string_view what) {
    if (error_.empty()) {
        error_ = Describe(what, path_, errno);
    }
    return false;
}

bool AtomicFile::Commit() {
    if (fd_ < 0 || !error_.empty()) {
        Discard();
        return false;
    }
    // No fsync: the rename already guarantees that readers see the old file or
    // the whole new one, which is what a failed or interrupted write needs. Surviving
    // a power cut as well is left to the file system (ext4 flushes data before a
    // replacing rename), and syncing would triple the time of a large conversion.
    bool ok = Flush();
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && ok) {
        ok = Fail("Cannot write");
    }
    if (ok && ::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        ok = Fail("Cannot replace");
    }
    if (!ok) {
        Discard();
        return false;
    }
    tempPath_.clear();
    return true;
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
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
