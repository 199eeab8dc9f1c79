// CWindowBoard (Win32): the board that the main window's choices open, held in a link
// of the window's own. It opens through the run core's OpenBoard, as every front end
// does, and lends the link to the runs the user starts. The "Boards" page may need
// the port or device it holds (both are exclusive): it is let go for that run and
// opened again afterwards.
#pragma once

#include <bootwire/bootwire.h>

#include <memory>
#include <string>
#include <vector>

#include "download/board/open_board.h"
#include "download/run/session.h"

namespace sealbench::win32 {

// An open as the window reports it: on failure the lines after its message box's
// own text, on success what the port cannot do (for the status bar's note).
struct WindowOpen {
    bool ok = false;
    std::string reason;
    std::string notice;
};

class CWindowBoard {
public:
    CWindowBoard() = default;
    CWindowBoard(const CWindowBoard&) = delete;
    CWindowBoard& operator=(const CWindowBoard&) = delete;

    // Opens `address` in the line mode of `processor` in place of the board held so
    // far, which is let go first: a port is exclusive, and may be the one chosen again.
    // A failure leaves none held.
    WindowOpen Open(const BoardAddress& address, ProcessorType processor);
    void Close() { link_.reset(); }
    // The link runs borrow; nullptr while none is open.
    bootwire::Link* Link() const { return link_.get(); }

    // A "Boards" run takes `boards`: the board held is let go when it is one of them.
    // A USB device is found again by the Download page's next run (`session`).
    void ReleaseFor(const std::vector<BoardAddress>& boards, bool usbChannel, Session& session);
    // After that run: the serial port let go is opened again.
    void Restore(ProcessorType processor);

private:
    std::unique_ptr<bootwire::Link> link_;
    std::string releasedPort_;
};

}  // namespace sealbench::win32
