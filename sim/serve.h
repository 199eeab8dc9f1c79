// vireo-sim's serving loop: moves host bytes from the pty and the USB socket into
// the board and the board's answers back, at the line's rate with --pace, until
// SIGINT or SIGTERM. SIGUSR1 resets the board to its boot ROM.
#pragma once

#include <memory>

#include "core/board.h"
#include "links.h"

namespace vsim {

struct ServeOptions {
    bool pace = false;
};

struct ServeState;

class Server {
public:
    // The signals must already be blocked in every thread (see BlockServeSignals).
    Server(Board& board, Pty& pty, UsbListener* usb, Outbox& outbox, ServeOptions options);
    ~Server();
    // Returns when SIGINT or SIGTERM arrived; throws std::runtime_error when the loop
    // cannot go on (a failed poll or pty read).
    void Run();

private:
    void SerialIn();
    void SerialOut();
    // The host's speed as its pty settings say (the UART's when they cannot be read);
    // reports a mismatch with the UART's line once per change.
    unsigned HostBaud(unsigned uartBaud);
    // True when bytes between the host at hostBaud and the UART at uartBaud arrive garbled.
    bool Garbles(unsigned hostBaud, unsigned uartBaud) const;
    void UsbAccept();
    void UsbIn();
    void UsbOut();
    void CloseUsb(const char* why);
    bool Signal();

    Board& board_;
    Pty& pty_;
    UsbListener* usb_;
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
