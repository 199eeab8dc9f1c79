#include "io_posix.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace bootwire::posix {
namespace {

int MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

// What a failed read or write says about the link: the device or the peer that
// went away is told apart from a plain I/O failure.
Error ErrorFromTransferErrno(int err) {
    switch (err) {
        case EIO:
        case ENODEV:
        case ENXIO:
        case EPIPE:
        case ECONNRESET:
            return Error::Gone;
        case ETIMEDOUT:
            return Error::Timeout;
        default:
            return Error::Io;
    }
}

}  // namespace

Error ErrorFromErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ECONNREFUSED:
            return Error::NotFound;
        case EACCES:
        case EPERM:
            return Error::Permission;
        case EBUSY:
            return Error::Busy;
        case ETIMEDOUT:
            return Error::Timeout;
        default:
            return Error::Io;
    }
}

Error WriteAll(int fd, const uint8_t* data, size_t n, Clock::time_point deadline, std::chrono::milliseconds idle,
               const SendObserver* sent, std::string* detail, bool isSocket) {
    size_t done = 0;
    auto lastProgress = Clock::now();
    while (done < n) {
        ssize_t r = isSocket ? ::send(fd, data + done, n - done, MSG_NOSIGNAL) : ::write(fd, data + done, n - done);
        if (r > 0) {
            done += static_cast<size_t>(r);
            lastProgress = Clock::now();
            if (sent) {
                (*sent)(static_cast<size_t>(r));
            }
            continue;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            int err = errno;
            *detail = std::string("write failed: ") + std::strerror(err);
            return ErrorFromTransferErrno(err);
        }
        int wait = std::min(MillisecondsUntil(deadline), MillisecondsUntil(lastProgress + idle));
        if (wait == 0) {
            *detail = "the target stopped taking data (" + std::to_string(done) + " of " + std::to_string(n) +
                      " bytes written)";
            return Error::Timeout;
        }
        pollfd p{fd, POLLOUT, 0};
        int pr = ::poll(&p, 1, wait);
        if (pr < 0 && errno != EINTR) {
            *detail = std::string("poll failed: ") + std::strerror(errno);
            return Error::Io;
        }
        if (pr > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
            *detail = "the connection to the target was lost";
            return Error::Gone;
        }
    }
    return Error::Ok;
}

Error ReadSome(int fd, uint8_t* data, size_t n, Clock::time_point deadline, std::chrono::milliseconds idle,
               size_t* received, std::string* detail) {
    size_t done = 0;
    auto lastByte = Clock::now();
    Error result = Error::Ok;
    while (done < n) {
        ssize_t r = ::read(fd, data + done, n - done);
        if (r > 0) {
            done += static_cast<size_t>(r);
            lastByte = Clock::now();
            continue;
        }
        if (r == 0) {
            *detail = "the connection to the target was closed";
            result = Error::Gone;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            int err = errno;
            *detail = std::string("read failed: ") + std::strerror(err);
            result = ErrorFromTransferErrno(err);
            break;
        }
        int wait = std::min(MillisecondsUntil(deadline), MillisecondsUntil(lastByte + idle));
        if (wait == 0) {
            // The caller counts the bytes of what it expected; saying it twice confuses.
            *detail = "the target did not answer in time";
            result = Error::Timeout;
            break;
        }
        pollfd p{fd, POLLIN, 0};
        int pr = ::poll(&p, 1, wait);
        if (pr < 0 && errno != EINTR) {
            *detail = std::string("poll failed: ") + std::strerror(errno);
            result = Error::Io;
            break;
        }
        if (pr > 0 && (p.revents & (POLLERR | POLLNVAL))) {
            *detail = "the connection to the target was lost";
            result = Error::Gone;
            break;
        }
        if (pr > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN)) {
            *detail = "the connection to the target was closed";
            result = Error::Gone;
            break;
        }
    }
    *received = done;
    return result;
}

}  // namespace bootwire::posix
