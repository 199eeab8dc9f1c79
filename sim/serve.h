// vireo-sim's serving loop: moves host bytes from the pty (or the RFC 2217 port
// while a host is connected to it) and the USB socket into the board and the
// board's answers back, at the line's rate with --pace, until SIGINT or SIGTERM.
// SIGUSR1 resets the board (to its boot ROM, or in a jig as its pins say); SIGUSR2
// unplugs its USB cable, or plugs it in again.
#pragma once

#include <memory>

#include "core/board.h"
#include "jig.h"
#include "links.h"
#include "rfc2217_port.h"

namespace vsim {

struct ServeOptions {
    bool pace = false;
    // SIGUSR2 unplugs and plugs in the USB socket (not the umockdev device's own).
    bool usbCable = false;
};

struct ServeState;

class Server {
public:
    // The signals must already be blocked in every thread (see BlockServeSignals).
    Server(Board& board, Jig& jig, Pty& pty, UsbListener* usb, Rfc2217Port* rfc2217, Outbox& outbox,
           ServeOptions options);
    ~Server();
    // Returns when SIGINT or SIGTERM arrived; throws std::runtime_error when the loop
    // cannot go on (a failed poll or pty read).
    void Run();

private:
    // True while the UART is the RFC 2217 host's rather than the pty's.
    bool Networked() const { return rfc_ && rfc_->Connected(); }
    void SerialIn();
    void SerialOut();
    // Host bytes that crossed a line at hostBaud (garbled when the UART runs at another speed).
    void Deliver(const uint8_t* data, size_t n, unsigned hostBaud, bool framingMatches);
    void RfcBytes(const uint8_t* raw, size_t n);
    void RfcAccept();
    void RfcClose(const char* why);
    // Whether the RFC 2217 host's framing is the UART's; reports a mismatch once per change.
    bool RfcFramingMatches(unsigned uartBaud);
    // The host's speed as its pty settings say (the UART's when they cannot be read);
    // reports a mismatch with the UART's line once per change.
    unsigned HostBaud(unsigned uartBaud);
    // True when bytes between the host at hostBaud and the UART at uartBaud arrive garbled.
    bool Garbles(unsigned hostBaud, unsigned uartBaud) const;
    void UsbAccept();
    void UsbIn();
    void UsbOut();
    void CloseUsb(const char* why);
    void UsbCable();
    bool Signal();

    Board& board_;
    Jig& jig_;
    Pty& pty_;
    UsbListener* usb_;
    Rfc2217Port* rfc_;
    Outbox& outbox_;
    ServeOptions options_;
    UniqueFd signals_;
    UniqueFd usbConn_;
    bool usbClosePending_ = false;
    std::unique_ptr<ServeState> state_;
};

// Blocks the signals the loop takes through a signalfd; call before any thread starts.
void BlockServeSignals();

}  // namespace vsim
