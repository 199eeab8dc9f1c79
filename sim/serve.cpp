#include "serve.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <vector>

#include "core/cpu.h"
#include "core/line_check.h"
#include "core/pacer.h"
#include "log.h"

namespace vsim {

namespace {

using Clock = Pacer::Clock;

// Paced bytes move in small batches: one wake-up a byte would cost a core, a
// larger batch would hold back the last bytes of a frame.
constexpr size_t kPaceBatch = 16;
constexpr size_t kReadChunk = 1u << 20;

sigset_t ServeSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

void Earliest(std::optional<Clock::time_point>* at, Clock::time_point t) {
    if (!*at || t < **at) *at = t;
}

void Diagnostic(const std::string& line) { LogLine(line); }

}  // namespace

void BlockServeSignals() {
    sigset_t set = ServeSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// Per-direction state of the serving loop that does not belong in the header.
struct ServeState {
    explicit ServeState(Cpu cpu)
        : rxPace(kLineBaud, TraitsOf(cpu).bitsPerByte), txPace(kLineBaud, TraitsOf(cpu).bitsPerByte), lineCheck(cpu) {}
    Pacer rxPace;
    Pacer txPace;
    std::optional<Clock::time_point> rxWaitUntil;
    LineCheck lineCheck;
    LineNoise rxNoise;
    LineNoise txNoise;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kReadChunk);
};

Server::~Server() = default;

Server::Server(Board& board, Pty& pty, UsbListener* usb, Outbox& outbox, ServeOptions options)
    : board_(board),
      pty_(pty),
      usb_(usb),
      outbox_(outbox),
      options_(options),
      state_(std::make_unique<ServeState>(board.GetCpu())) {
    sigset_t set = ServeSignals();
    signals_ = UniqueFd(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signals_.Valid()) throw std::runtime_error(std::string("cannot create a signalfd: ") + std::strerror(errno));
}

void Server::Run() {
    ServeState& local = *state_;
    for (;;) {
        board_.Poll();
        if (outbox_.TakeUsbClose()) usbClosePending_ = true;
        if (usbClosePending_ && (!usbConn_.Valid() || outbox_.Queued(Channel::Usb) == 0))
            CloseUsb("the USB device re-enumerated");

        // The line runs at whatever rate the board's UART was last set to.
        if (const unsigned baud = board_.SerialBaud(); baud != local.rxPace.Baud()) {
            local.rxPace.SetBaud(baud);
            local.txPace.SetBaud(baud);
            local.rxWaitUntil.reset();
        }

        Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> wakeAt;
        bool reading = board_.ReadBudget() > 0;

        short masterEvents = 0;
        if (reading) {
            if (!options_.pace || !local.rxWaitUntil || now >= *local.rxWaitUntil) {
                local.rxWaitUntil.reset();
                masterEvents |= POLLIN;
            } else {
                Earliest(&wakeAt, *local.rxWaitUntil);
            }
        }
        if (size_t queued = outbox_.Queued(Channel::Serial); queued > 0) {
            size_t want = std::min(queued, kPaceBatch);
            if (!options_.pace || local.txPace.Allowed(now) >= want)
                masterEvents |= POLLOUT;
            else
                Earliest(&wakeAt, local.txPace.When(want));
        } else {
            local.txPace.Idle();
        }

        pollfd fds[6];
        nfds_t count = 0;
        fds[count++] = {signals_.Get(), POLLIN, 0};
        fds[count++] = {outbox_.WakeFd(), POLLIN, 0};
        fds[count++] = {pty_.Master(), masterEvents, 0};
        fds[count++] = {pty_.WatchFd(), POLLIN, 0};
        nfds_t listenAt = count;
        if (usb_) fds[count++] = {usb_->Fd(), POLLIN, 0};
        nfds_t connAt = count;
        if (usbConn_.Valid()) {
            short events = reading ? POLLIN : 0;
            if (outbox_.Queued(Channel::Usb) > 0) events |= POLLOUT;
            fds[count++] = {usbConn_.Get(), events, 0};
        }

        timespec timeout{};
        timespec* timeoutArg = nullptr;
        if (wakeAt) {
            auto ns = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(*wakeAt - now).count());
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
            timeoutArg = &timeout;
        }
        if (ppoll(fds, count, timeoutArg, nullptr) < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("poll failed: ") + std::strerror(errno));
        }

        if ((fds[0].revents & POLLIN) && Signal()) return;
        if (fds[1].revents & POLLIN) outbox_.ClearWake();
        if (fds[2].revents & POLLIN) SerialIn();
        if (fds[2].revents & POLLOUT) SerialOut();
        if (fds[3].revents & POLLIN) pty_.WatchEvents();
        if (usb_ && (fds[listenAt].revents & POLLIN))
            UsbAccept();
        else if (usbConn_.Valid() && connAt < count && fds[connAt].fd == usbConn_.Get()) {
            if (fds[connAt].revents & (POLLIN | POLLHUP | POLLERR)) UsbIn();
            if (usbConn_.Valid() && (fds[connAt].revents & POLLOUT)) UsbOut();
        }
    }
}

void Server::SerialIn() {
    ServeState& local = *state_;
    size_t limit = std::min(local.buffer.size(), board_.ReadBudget());
    size_t allowed = std::numeric_limits<size_t>::max();
    if (options_.pace) {
        int pending = 0;
        if (ioctl(pty_.Master(), FIONREAD, &pending) != 0 || pending < 1) pending = 1;
        size_t want = std::min<size_t>(static_cast<size_t>(pending), kPaceBatch);
        Clock::time_point now = Clock::now();
        allowed = local.rxPace.Allowed(now);
        if (allowed < want) {
            local.rxWaitUntil = local.rxPace.When(want);
            return;
        }
        limit = std::min(limit, allowed);
    }
    ssize_t got = ::read(pty_.Master(), local.buffer.data(), limit);
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) return;
        throw std::runtime_error(std::string("reading ") + pty_.Path() + " failed: " + std::strerror(errno));
    }
    if (got == 0) return;
    if (options_.pace) {
        local.rxPace.Took(static_cast<size_t>(got));
        // Less than the line could have carried: the host paused, and the pause must
        // not be paid back later as a burst.
        if (static_cast<size_t>(got) < allowed) local.rxPace.Idle();
    }
    const unsigned uart = board_.SerialBaud();
    const unsigned host = HostBaud(uart);
    if (Garbles(host, uart)) {
        std::vector<uint8_t> garbled = local.rxNoise.Garble(local.buffer.data(), static_cast<size_t>(got), host, uart);
        board_.Feed(Channel::Serial, garbled.data(), garbled.size());
        return;
    }
    board_.Feed(Channel::Serial, local.buffer.data(), static_cast<size_t>(got));
}

unsigned Server::HostBaud(unsigned uartBaud) {
    termios settings{};
    if (tcgetattr(pty_.Slave(), &settings) != 0) return uartBaud;
    if (auto mismatch = state_->lineCheck.Check(settings, uartBaud)) Diagnostic(*mismatch);
    return BaudOf(cfgetospeed(&settings));
}

bool Server::Garbles(unsigned hostBaud, unsigned uartBaud) const {
    const auto& limit = board_.Faults().lineLimit;
    return !RatesMatch(hostBaud, uartBaud) || (limit && uartBaud > *limit);
}

void Server::SerialOut() {
    ServeState& local = *state_;
    size_t limit = std::numeric_limits<size_t>::max();
    if (options_.pace) limit = local.txPace.Allowed(Clock::now());
    const unsigned uart = board_.SerialBaud();
    const unsigned host = HostBaud(uart);
    if (Garbles(host, uart)) {
        // The bytes leave the board whether or not the host makes sense of them.
        std::vector<uint8_t> sentBytes = outbox_.Take(Channel::Serial, std::min(limit, kReadChunk));
        std::vector<uint8_t> garbled = local.txNoise.Garble(sentBytes.data(), sentBytes.size(), uart, host);
        // Garbage the pty has no room for is lost, as a real receiver would lose it.
        if (!garbled.empty() && ::write(pty_.Master(), garbled.data(), garbled.size()) < 0 && errno != EAGAIN) {
            Diagnostic(std::string("writing ") + pty_.Path() + " failed: " + std::strerror(errno));
        }
        if (options_.pace) local.txPace.Took(sentBytes.size());
        return;
    }
    long sent = outbox_.Drain(Channel::Serial, pty_.Master(), limit);
    if (sent < 0) {
        Diagnostic(std::string("writing ") + pty_.Path() + " failed: " + std::strerror(errno) + "; answer dropped");
        outbox_.Clear(Channel::Serial);
        return;
    }
    if (options_.pace) local.txPace.Took(static_cast<size_t>(sent));
}

void Server::UsbAccept() {
    UniqueFd conn(::accept4(usb_->Fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!conn.Valid()) return;
    if (usb_->IsTcp()) {
        // Every answer is small and awaited: no coalescing delay.
        int one = 1;
        ::setsockopt(conn.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    if (usbConn_.Valid()) CloseUsb("a new USB host connected");
    usbConn_ = std::move(conn);
    usbClosePending_ = false;
}

void Server::UsbIn() {
    ServeState& local = *state_;
    size_t limit = std::min(local.buffer.size(), board_.ReadBudget());
    if (limit == 0) {
        // Not reading, so only a hang-up or an error brings us here.
        CloseUsb(nullptr);
        return;
    }
    ssize_t got = ::recv(usbConn_.Get(), local.buffer.data(), limit, 0);
    if (got == 0) {
        CloseUsb(nullptr);
        return;
    }
    if (got < 0) {
        if (errno != EAGAIN && errno != EINTR) CloseUsb(std::strerror(errno));
        return;
    }
    board_.Feed(Channel::Usb, local.buffer.data(), static_cast<size_t>(got));
}

void Server::UsbOut() {
    if (outbox_.Drain(Channel::Usb, usbConn_.Get(), std::numeric_limits<size_t>::max()) < 0)
        CloseUsb(std::strerror(errno));
}

void Server::CloseUsb(const char* why) {
    usbClosePending_ = false;
    outbox_.Clear(Channel::Usb);
    if (!usbConn_.Valid()) return;
    usbConn_.Reset();
    // A host leaving is routine; only a close the board made is worth a line.
    if (why) Diagnostic(std::string("USB connection closed: ") + why);
}

bool Server::Signal() {
    signalfd_siginfo info{};
    while (::read(signals_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1) {
            board_.Reset();
            continue;
        }
        return true;
    }
    return false;
}

}  // namespace vsim
