// The board's two ports to the host as vireo-sim serves them: a pseudo-terminal
// for the serial line and a stream socket (Unix, or TCP on the loopback for hosts
// such as Windows programs under Wine) standing in for the USB boot device, plus
// the outbox where the board (and the program it runs, from its own
// thread) leaves bytes for the serving loop to send.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "core/program.h"

namespace vsim {

using sealbench::UniqueFd;

class Pty {
public:
    // Throws std::runtime_error with the system's reason.
    Pty();
    int Master() const { return master_.Get(); }
    // Held open by the board itself so that the master never sees a hang-up between
    // host sessions, and so that the host's line settings can be read back.
    int Slave() const { return slave_.Get(); }
    const std::string& Path() const { return path_; }

    // Watches the hosts' opens and closes of the pty. Because the board holds the slave
    // open, the tty never sees its last close, and an exclusive mode (TIOCEXCL) a host
    // set would outlive that host and lock every later one out; so it is cleared here
    // when the last host closes.
    int WatchFd() const { return watch_.Get(); }
    void WatchEvents();

private:
    UniqueFd master_;
    UniqueFd slave_;
    UniqueFd watch_;
    std::string path_;
    long hostOpens_ = 0;
};

// A non-blocking TCP socket listening on 127.0.0.1:port (0: a free port the system
// chooses), and the port it got. Throws std::runtime_error with the system's reason.
UniqueFd ListenOnLoopback(int port, int* chosen);

class UsbListener {
public:
    // Removes a stale socket left by an earlier run (never any other kind of file).
    // Throws std::runtime_error with the reason.
    explicit UsbListener(std::string path);
    // Listens on 127.0.0.1:port; port 0 lets the system choose. Throws like the above.
    static UsbListener Tcp(int port);
    ~UsbListener();
    UsbListener(UsbListener&& other) noexcept;
    UsbListener(const UsbListener&) = delete;
    UsbListener& operator=(const UsbListener&) = delete;

    int Fd() const { return listen_.Get(); }
    // The USB cable: unplugged, nobody can connect and a socket file is gone; plugged
    // in, the listener is back at the same place. Plug throws like the constructor.
    bool Plugged() const { return listen_.Valid(); }
    void Unplug();
    void Plug();
    // What the host sets BOOTWIRE_USB_SIM to: the socket's path, or tcp:127.0.0.1:PORT.
    const std::string& Path() const { return path_; }
    bool IsTcp() const { return tcp_; }

private:
    UsbListener() = default;
    void Listen();
    std::string path_;
    int port_ = 0;  // TCP
    UniqueFd listen_;
    bool tcp_ = false;
};

// Bytes waiting for the host, one queue a channel. Push may come from any thread.
class Outbox {
public:
    Outbox();
    void Push(Channel channel, const uint8_t* data, size_t n);
    // Writes up to `limit` queued bytes of a channel to fd; returns bytes written,
    // or -1 with errno set when the write failed for another reason than a full pipe.
    long Drain(Channel channel, int fd, size_t limit);
    // Takes up to `limit` queued bytes of a channel out of the queue.
    std::vector<uint8_t> Take(Channel channel, size_t limit);
    size_t Queued(Channel channel);
    void Clear(Channel channel);

    // Wakes the serving loop (it polls WakeFd()).
    void Wake();
    int WakeFd() const { return wake_.Get(); }
    void ClearWake();

    // The USB device re-enumerates: the loop closes the host's connection once the
    // bytes queued before have gone.
    void RequestUsbClose() {
        usbClose_ = true;
        Wake();
    }
    bool TakeUsbClose() { return usbClose_.exchange(false); }

private:
    struct Queue {
        std::vector<uint8_t> bytes;
        size_t sent = 0;
    };
    std::mutex mutex_;
    Queue queues_[2];
    UniqueFd wake_;
    std::atomic<bool> usbClose_ = false;
};

}  // namespace vsim
