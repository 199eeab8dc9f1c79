#include "links.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vsim {

namespace {

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

Pty::Pty() {
    master_ = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!master_.Valid()) throw SystemError("cannot create a pseudo-terminal");
    if (grantpt(master_.Get()) != 0 || unlockpt(master_.Get()) != 0)
        throw SystemError("cannot unlock the pseudo-terminal");
    char name[128];
    if (ptsname_r(master_.Get(), name, sizeof name) != 0) throw SystemError("cannot name the pseudo-terminal");
    path_ = name;
    slave_ = UniqueFd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave_.Valid()) throw SystemError("cannot open " + path_);
    // Raw, so that no byte is echoed back or translated before the host sets its own
    // mode. The speed stays the kernel's default: the host must choose the line.
    termios settings{};
    if (tcgetattr(slave_.Get(), &settings) != 0) throw SystemError("cannot read the settings of " + path_);
    cfmakeraw(&settings);
    if (tcsetattr(slave_.Get(), TCSANOW, &settings) != 0) throw SystemError("cannot set raw mode on " + path_);

    watch_ = UniqueFd(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!watch_.Valid() || inotify_add_watch(watch_.Get(), name, IN_OPEN | IN_CLOSE) < 0)
        throw SystemError("cannot watch " + path_);
}

void Pty::WatchEvents() {
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = ::read(watch_.Get(), buf, sizeof buf)) > 0) {
        for (char* p = buf; p < buf + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            if (event->mask & IN_OPEN) ++hostOpens_;
            if (event->mask & IN_CLOSE) {
                hostOpens_ = hostOpens_ > 0 ? hostOpens_ - 1 : 0;
                if (hostOpens_ == 0) ioctl(slave_.Get(), TIOCNXCL);
            }
            p += sizeof(inotify_event) + event->len;
        }
    }
}

UniqueFd ListenOnLoopback(int port, int* chosen) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) throw SystemError("cannot create a TCP socket");
    int one = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // The loopback only: the board has no business on the network.
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof addr;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &length) != 0 || ::listen(fd.Get(), 4) != 0)
        throw SystemError("cannot listen on 127.0.0.1:" + std::to_string(port));
    *chosen = ntohs(addr.sin_port);
    return fd;
}

UsbListener::UsbListener(std::string path) : path_(std::move(path)) {
    sockaddr_un addr{};
    if (path_.empty() || path_.size() >= sizeof addr.sun_path)
        throw std::runtime_error("USB socket path \"" + path_ + "\" is empty or too long");
    Listen();
}

void UsbListener::Listen() {
    if (tcp_) {
        listen_ = ListenOnLoopback(port_, &port_);
        path_ = "tcp:127.0.0.1:" + std::to_string(port_);
        return;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(path_ + " exists and is not a socket; not replacing it");
        ::unlink(path_.c_str());
    }
    listen_ = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listen_.Valid()) throw SystemError("cannot create a Unix socket");
    if (::bind(listen_.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw SystemError("cannot bind " + path_);
    if (::listen(listen_.Get(), 4) != 0) {
        ::unlink(path_.c_str());
        throw SystemError("cannot listen on " + path_);
    }
}

UsbListener UsbListener::Tcp(int port) {
    if (port < 0 || port > 65535)
        throw std::runtime_error("USB TCP port " + std::to_string(port) + " is not 0 to 65535");
    UsbListener listener;
    listener.tcp_ = true;
    listener.port_ = port;
    listener.Listen();
    return listener;
}

void UsbListener::Unplug() {
    listen_.Reset();
    if (!tcp_ && !path_.empty()) ::unlink(path_.c_str());
}

void UsbListener::Plug() {
    if (!listen_.Valid()) Listen();
}

UsbListener::UsbListener(UsbListener&& other) noexcept
    : path_(std::move(other.path_)), port_(other.port_), listen_(std::move(other.listen_)), tcp_(other.tcp_) {
    other.path_.clear();
}

UsbListener::~UsbListener() {
    // Only a socket that is still ours: after an unplug the place may hold another board's.
    if (listen_.Valid()) Unplug();
}

Outbox::Outbox() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!wake_.Valid()) throw SystemError("cannot create an eventfd");
}

void Outbox::Push(Channel channel, const uint8_t* data, size_t n) {
    {
        std::lock_guard lock(mutex_);
        Queue& q = queues_[static_cast<int>(channel)];
        q.bytes.insert(q.bytes.end(), data, data + n);
    }
    Wake();
}

long Outbox::Drain(Channel channel, int fd, size_t limit) {
    std::lock_guard lock(mutex_);
    Queue& q = queues_[static_cast<int>(channel)];
    size_t n = std::min(limit, q.bytes.size() - q.sent);
    if (n == 0) return 0;
    ssize_t written = channel == Channel::Usb ? ::send(fd, q.bytes.data() + q.sent, n, MSG_NOSIGNAL)
                                              : ::write(fd, q.bytes.data() + q.sent, n);
    if (written < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
    q.sent += static_cast<size_t>(written);
    if (q.sent == q.bytes.size()) {
        q.bytes.clear();
        q.sent = 0;
    } else if (q.sent > (1u << 20) && q.sent * 2 > q.bytes.size()) {
        // A host that reads slowly while more is queued must not make the queue grow forever.
        q.bytes.erase(q.bytes.begin(), q.bytes.begin() + static_cast<ptrdiff_t>(q.sent));
        q.sent = 0;
    }
    return written;
}

std::vector<uint8_t> Outbox::Take(Channel channel, size_t limit) {
    std::lock_guard lock(mutex_);
    Queue& q = queues_[static_cast<int>(channel)];
    size_t n = std::min(limit, q.bytes.size() - q.sent);
    std::vector<uint8_t> taken(q.bytes.begin() + static_cast<ptrdiff_t>(q.sent),
                               q.bytes.begin() + static_cast<ptrdiff_t>(q.sent + n));
    q.sent += n;
    if (q.sent == q.bytes.size()) {
        q.bytes.clear();
        q.sent = 0;
    }
    return taken;
}

size_t Outbox::Queued(Channel channel) {
    std::lock_guard lock(mutex_);
    const Queue& q = queues_[static_cast<int>(channel)];
    return q.bytes.size() - q.sent;
}

void Outbox::Clear(Channel channel) {
    std::lock_guard lock(mutex_);
    queues_[static_cast<int>(channel)] = Queue{};
}

void Outbox::Wake() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(wake_.Get(), &one, sizeof one);
}

void Outbox::ClearWake() {
    uint64_t count;
    [[maybe_unused]] ssize_t r = ::read(wake_.Get(), &count, sizeof count);
}

}  // namespace vsim
