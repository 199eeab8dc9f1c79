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
// What may wait for an RFC 2217 host beyond what its socket took: the rest stays in
// the outbox, where a purge can still reach it.
constexpr size_t kRfcWindow = 64u << 10;

sigset_t ServeSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
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
    // The RFC 2217 host's line and the UART's speed when a mismatch was last reported.
    std::optional<std::pair<HostLine, unsigned>> rfcReported;
};

Server::~Server() = default;

Server::Server(Board& board, Jig& jig, Pty& pty, UsbListener* usb, Rfc2217Port* rfc2217, Outbox& outbox,
               ServeOptions options)
    : board_(board),
      jig_(jig),
      pty_(pty),
      usb_(usb),
      rfc_(rfc2217),
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

        // The UART's host end: the pty, or the RFC 2217 host while one is connected.
        short rfcEvents = 0;
        if (Networked()) {
            rfcEvents = masterEvents;
            if (rfc_->Server().Suspended() || rfc_->Waiting() >= kRfcWindow) rfcEvents &= ~POLLOUT;
            if (rfc_->Waiting() > 0) rfcEvents |= POLLOUT;
            masterEvents = 0;
        }

        pollfd fds[8];
        nfds_t count = 0;
        fds[count++] = {signals_.Get(), POLLIN, 0};
        fds[count++] = {outbox_.WakeFd(), POLLIN, 0};
        fds[count++] = {pty_.Master(), masterEvents, 0};
        fds[count++] = {pty_.WatchFd(), POLLIN, 0};
        nfds_t rfcAt = count;
        if (rfc_) fds[count++] = {rfc_->ListenFd(), POLLIN, 0};
        if (Networked()) fds[count++] = {rfc_->ConnFd(), rfcEvents, 0};
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
        if (rfc_) {
            const bool wasConnected = Networked();
            const short conn = wasConnected ? fds[rfcAt + 1].revents : 0;
            if (conn & (POLLIN | POLLHUP | POLLERR)) SerialIn();
            if (Networked() && (conn & POLLOUT)) SerialOut();
            if (fds[rfcAt].revents & POLLIN) RfcAccept();
        }
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
    const bool networked = Networked();
    const int fd = networked ? rfc_->ConnFd() : pty_.Master();
    size_t limit = std::min(local.buffer.size(), board_.ReadBudget());
    size_t allowed = std::numeric_limits<size_t>::max();
    if (options_.pace) {
        int pending = 0;
        if (ioctl(fd, FIONREAD, &pending) != 0 || pending < 1) pending = 1;
        size_t want = std::min<size_t>(static_cast<size_t>(pending), kPaceBatch);
        Clock::time_point now = Clock::now();
        allowed = local.rxPace.Allowed(now);
        if (allowed < want) {
            local.rxWaitUntil = local.rxPace.When(want);
            return;
        }
        limit = std::min(limit, allowed);
    }
    if (limit == 0) {
        // Not reading, so only a hang-up or an error brings us here.
        if (networked) RfcClose(nullptr);
        return;
    }
    ssize_t got = networked ? ::recv(fd, local.buffer.data(), limit, 0) : ::read(fd, local.buffer.data(), limit);
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) return;
        if (networked) {
            RfcClose(std::strerror(errno));
            return;
        }
        throw std::runtime_error(std::string("reading ") + pty_.Path() + " failed: " + std::strerror(errno));
    }
    if (got == 0) {
        if (networked) RfcClose(nullptr);
        return;
    }
    if (options_.pace) {
        local.rxPace.Took(static_cast<size_t>(got));
        // Less than the line could have carried: the host paused, and the pause must
        // not be paid back later as a burst.
        if (static_cast<size_t>(got) < allowed) local.rxPace.Idle();
    }
    if (networked) {
        RfcBytes(local.buffer.data(), static_cast<size_t>(got));
        return;
    }
    Deliver(local.buffer.data(), static_cast<size_t>(got), HostBaud(board_.SerialBaud()), true);
}

void Server::Deliver(const uint8_t* data, size_t n, unsigned hostBaud, bool framingMatches) {
    if (n == 0) return;
    if (!framingMatches || Garbles(hostBaud, board_.SerialBaud())) {
        std::vector<uint8_t> garbled = state_->rxNoise.Garble(data, n, hostBaud, board_.SerialBaud());
        board_.Feed(Channel::Serial, garbled.data(), garbled.size());
        return;
    }
    board_.Feed(Channel::Serial, data, n);
}

void Server::RfcBytes(const uint8_t* raw, size_t n) {
    size_t at = 0;
    while (at < n && Networked()) {
        std::vector<uint8_t> data;
        std::vector<uint8_t> reply;
        at += rfc_->Server().Feed(raw + at, n - at, data, reply);
        rfc_->QueueReply(reply);
        const HostLine& line = rfc_->Server().Line();
        if (!data.empty()) Deliver(data.data(), data.size(), line.baud, RfcFramingMatches(board_.SerialBaud()));
        // After the bytes sent before it: a reset drops what the board has not read.
        jig_.Lines(line.dtr, line.rts);
    }
    if (Networked() && rfc_->Server().TakePurgeRequest()) outbox_.Clear(Channel::Serial);
    if (Networked() && !rfc_->Flush()) RfcClose(std::strerror(errno));
}

bool Server::RfcFramingMatches(unsigned uartBaud) {
    HostLine line = rfc_->Server().Line();
    const CpuTraits& traits = TraitsOf(board_.GetCpu());
    const uint8_t parity = traits.stopBits == 2 ? 2 : 1;  // the boot ROM's 8O2 or 8N1
    const bool matches = line.dataSize == 8 && line.parity == parity && line.stopSize == traits.stopBits &&
                         RatesMatch(line.baud, uartBaud);
    line.dtr = line.rts = false;
    auto& reported = state_->rfcReported;
    if (!matches && (!reported || reported->first != line || reported->second != uartBaud)) {
        HostLine uart;
        uart.baud = uartBaud;
        uart.parity = parity;
        uart.stopSize = static_cast<uint8_t>(traits.stopBits);
        Diagnostic("RFC 2217 host's line (" + DescribeFraming(line) + ") differs from the UART's (" +
                   DescribeFraming(uart) + ")");
        reported.emplace(line, uartBaud);
    }
    if (matches) reported.reset();
    // As on the pty, a UART does not judge parity or stop bits; a wrong speed or size garbles.
    return line.dataSize == 8;
}

void Server::RfcAccept() {
    if (!rfc_->Accept()) return;
    outbox_.Clear(Channel::Serial);  // what the board said before belongs to nobody
    Diagnostic("RFC 2217 host connected");
}

void Server::RfcClose(const char* why) {
    rfc_->Close();
    outbox_.Clear(Channel::Serial);
    state_->rfcReported.reset();
    Diagnostic(std::string("RFC 2217 host left") + (why ? std::string(": ") + why : std::string()));
    // A serial server drops DTR and RTS when its client goes.
    jig_.Lines(false, false);
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
    if (Networked()) {
        const size_t room = kRfcWindow > rfc_->Waiting() ? kRfcWindow - rfc_->Waiting() : 0;
        if (!rfc_->Server().Suspended() && room > 0) {
            std::vector<uint8_t> bytes = outbox_.Take(Channel::Serial, std::min({limit, room, kReadChunk}));
            const unsigned host = rfc_->Server().Line().baud;
            if (!bytes.empty() && (!RfcFramingMatches(uart) || Garbles(host, uart))) {
                std::vector<uint8_t> garbled = local.txNoise.Garble(bytes.data(), bytes.size(), uart, host);
                rfc_->QueueData(garbled.data(), garbled.size());
            } else {
                rfc_->QueueData(bytes.data(), bytes.size());
            }
            if (options_.pace) local.txPace.Took(bytes.size());
        }
        if (!rfc_->Flush()) RfcClose(std::strerror(errno));
        return;
    }
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

void Server::UsbCable() {
    if (!usb_ || !options_.usbCable) {
        Diagnostic("SIGUSR2: this board has no USB socket to unplug (--usb-socket or --usb-tcp)");
        return;
    }
    if (usb_->Plugged()) {
        CloseUsb("the USB cable was unplugged");
        usb_->Unplug();
        Diagnostic("USB cable unplugged: the USB device is gone (" + usb_->Path() + ")");
        return;
    }
    try {
        usb_->Plug();
    } catch (const std::exception& e) {
        Diagnostic(std::string("USB cable stays unplugged: ") + e.what());
        return;
    }
    Diagnostic("USB cable plugged in: the board powers up (" + usb_->Path() + ")");
    // Powered from the cable: it starts afresh, its flash as it was.
    if (jig_.Wired())
        jig_.PowerOn();
    else
        board_.Reset();
}

bool Server::Signal() {
    signalfd_siginfo info{};
    while (::read(signals_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1) {
            jig_.ResetButton();
            continue;
        }
        if (info.ssi_signo == SIGUSR2) {
            UsbCable();
            continue;
        }
        return true;
    }
    return false;
}

}  // namespace vsim
