// The Win32 window's board: the serial port and the USB boot device its choices open,
// each held in a link of the window's own, and the calls that hand them to a run.
// Opening a board and starting a run live here alone, so that they can move to the
// core's single door in one place.
#pragma once

#include <bootwire/bootwire.h>

#include <stop_token>
#include <string>

#include "download/presets.h"
#include "download/run_settings.h"
#include "download/runner.h"

namespace sealbench::win32 {

// An open that failed says why, for the line after the specified message.
struct OpenResult {
    bool ok = false;
    std::string reason;
};

class CWindowBoard {
public:
    CWindowBoard() = default;
    CWindowBoard(const CWindowBoard&) = delete;
    CWindowBoard& operator=(const CWindowBoard&) = delete;

    // "Serial Port:" chose `port`: it is opened in the processor's line mode and
    // replaces the port held so far. A port that cannot be opened leaves none held.
    OpenResult OpenSerialPort(const std::string& port, ProcessorType processor);
    // "USB" clicked, start-up, and again after a FLASHING download.
    OpenResult OpenUsbDevice();
    // The port held now ("COM3"), empty when none.
    const std::string& SerialPort() const { return serialName_; }
    bool UsbOpen() const { return usb_.IsOpen(); }

    // Lets go of the serial port for a while (the "Boards" page runs it itself) and
    // takes it again afterwards.
    void ReleaseSerialPort();
    void RetakeSerialPort();
    void ReleaseUsbDevice() { usb_.Detach(); }

    // The board a run started now talks to.
    BoardLink Chosen(bool usb);
    // Ends whatever the links are doing: every send and receive from now on fails at
    // once. For closing the window; the links are not used again.
    void Stop() { stop_.request_stop(); }

private:
    std::stop_source stop_;
    bootwire::Link serial_;
    bootwire::Link usb_;
    std::string serialName_;
    ProcessorType serialFor_ = ProcessorType::None;
    std::string released_;
};

// "Execute" and the hidden debug buttons on the chosen board; each logs its lines to
// the runner's view. Execute is true when the run's tasks were started.
bool ExecuteOn(Runner& runner, const RunSettings& settings, const BoardLink& board);
void ReadOn(Runner& runner, const RunSettings& settings, const BoardLink& board, const std::string& address);
void CheckSekurelOn(Runner& runner, const RunSettings& settings, const BoardLink& board);
void MemoryInitOn(Runner& runner, const RunSettings& settings, const BoardLink& board);

}  // namespace sealbench::win32
