#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include "common/atomic_file.h"

namespace sealbench {
namespace {

constexpr int kMaxLinkDepth = 40;  // the kernel's own limit for one path
constexpr int kNameAttempts = 100;
// Short and fixed, so that a target whose name is near the file system's limit
// still gets a temporary beside it.
constexpr const char* kTempPrefix = "/.sealbench-";

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

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISFIFO(mode)) return "a FIFO";
    return "not a regular file";
}

// The file a path names once its symbolic links are followed, also when that
// file does not exist yet: like the shell's ">", writing through a dangling link
// creates the file it points to.
bool FollowLinks(const std::string& path, std::string* target, std::string* error) {
    std::string current = path;
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                *target = current;
                return true;
            }
            *error = Describe("Cannot write", path, errno);
            return false;
        }
        if (!S_ISLNK(info.st_mode)) {
            *target = current;
            return true;
        }
        std::string link(static_cast<size_t>(std::max<off_t>(info.st_size, 0)) + 256, '\0');
        ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<size_t>(n) >= link.size()) {
            *error = Describe("Cannot follow the link", current, n < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        link.resize(static_cast<size_t>(n));
        current = link.front() == '/' ? link : FolderOf(current) + "/" + link;
    }
    *error = Describe("Cannot write", path, ELOOP);
    return false;
}

// A name for the moment between linking a finished file and renaming it over
// the target; unlike mkstemp's, it is not created here.
std::string TempName(const std::string& folder) {
    static std::atomic<uint64_t> counter{0};
    uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (static_cast<uint64_t>(::getpid()) << 32) ^ counter.fetch_add(0x9E3779B97F4A7C15ull);
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = folder + kTempPrefix;
    for (int i = 0; i < 8; ++i) {
        name += kDigits[seed % 36];
        seed /= 36;
    }
    return name;
}

// A replaced file keeps who owns it and who may read it. The owner can only be
// given away by a privileged process; the group by its owner, when it is one of
// theirs. What cannot be kept is left as a new file would have it.
bool KeepOwnerAndMode(int fd, const struct stat& old, std::string* error, const std::string& path) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        *error = Describe("Cannot keep the permissions of", path, errno);
        return false;
    }
    return true;
}

// Holds SIGPIPE back while bytes go into a FIFO, so that a reader that went away
// is a write error with a reason rather than the end of the process.
class SigpipeHeld {
public:
    SigpipeHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeHeld() {
        if (!wasPending_) {
            const timespec now{};
            while (sigtimedwait(&pipe_, nullptr, &now) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool wasPending_ = false;
};

// A device or FIFO takes the bytes as they come; there is nothing to replace.
int OpenDirect(const std::string& path, bool fifo, std::string* error) {
    // Without O_NONBLOCK a FIFO nobody reads would hold the open forever.
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = errno == ENXIO && fifo ? "Cannot write " + path + ": no program is reading from this FIFO"
                                        : Describe("Cannot open", path, errno);
        return -1;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *error = Describe("Cannot open", path, errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

// A file in `folder` without a name, or (where the file system cannot make one)
// a named temporary; -1 with the reason otherwise.
int OpenTemporary(const std::string& folder, const std::string& path, std::string* tempPath, std::string* error) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        return fd;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        *error = Describe("Cannot create a file beside", path, errno);
        return -1;
    }
    std::string pattern = folder + kTempPrefix + "XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = Describe("Cannot create a file beside", path, errno);
        return -1;
    }
    if (::fchmod(fd, NewFileMode()) != 0) {
        *error = Describe("Cannot set the permissions of", pattern, errno);
        ::close(fd);
        ::unlink(pattern.c_str());
        return -1;
    }
    *tempPath = pattern;
    return fd;
}

// Gives the unnamed file `fd` the name `to`; 0 or the errno.
int LinkUnnamed(int fd, const std::string& to) {
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return 0;
    }
    int err = errno;
    // Without /proc, a privileged process can still link the descriptor itself.
    if (err == ENOENT && ::access("/proc/self/fd", F_OK) != 0 &&
        ::linkat(fd, "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) == 0) {
        return 0;
    }
    return err;
}

}  // namespace

std::unique_ptr<AtomicFile> AtomicFile::Create(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "No output file given";
        return nullptr;
    }
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        error = Describe("Cannot write", path, errno);
        return nullptr;
    }
    if (exists && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))) {
        int fd = OpenDirect(path, S_ISFIFO(info.st_mode), &error);
        if (fd < 0) {
            return nullptr;
        }
        std::unique_ptr<AtomicFile> file(new AtomicFile(path, {}, fd));
        file->target_ = path;
        file->direct_ = true;
        return file;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        error = "Cannot write " + path + ": it is " + KindOf(info.st_mode) +
                (S_ISDIR(info.st_mode) ? "" : ", not a regular file");
        return nullptr;
    }

    std::string target;
    if (!FollowLinks(path, &target, &error)) {
        return nullptr;
    }
    std::string tempPath;
    int fd = OpenTemporary(FolderOf(target), path, &tempPath, &error);
    if (fd < 0) {
        return nullptr;
    }
    std::unique_ptr<AtomicFile> file(new AtomicFile(path, tempPath, fd));
    file->target_ = target;
    if (exists && !KeepOwnerAndMode(fd, info, &error, path)) {
        return nullptr;  // the destructor drops the temporary
    }
    return file;
}

bool AtomicFile::WriteAll(const char* bytes, size_t size) {
    std::optional<SigpipeHeld> held;
    if (direct_ && size > 0) {
        held.emplace();
    }
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
    bool inPlace = direct_;
    if (ok && !direct_ && tempPath_.empty()) {
        // The unnamed file gets its name only now. A target that does not exist
        // yet is linked directly; one that does is replaced through a name that
        // lives for one rename.
        int err = EEXIST;
        struct stat info {};
        if (::lstat(target_.c_str(), &info) != 0 && errno == ENOENT) {
            err = LinkUnnamed(fd_, target_);
            inPlace = err == 0;
            if (inPlace) {
                tempPath_ = target_;  // until closed: a failed close removes it again
            }
        }
        for (int attempt = 0; err == EEXIST && attempt < kNameAttempts; ++attempt) {
            std::string name = TempName(FolderOf(target_));
            err = LinkUnnamed(fd_, name);
            if (err == 0) {
                tempPath_ = name;
            }
        }
        if (err != 0) {
            errno = err;
            ok = Fail("Cannot create");
        }
    }
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && ok) {
        ok = Fail("Cannot write");
    }
    if (ok && !inPlace && ::rename(tempPath_.c_str(), target_.c_str()) != 0) {
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

}  // namespace sealbench
