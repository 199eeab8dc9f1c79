// CBoardsPage (Win32): the "Boards" tab. It lists the serial ports and USB boot
// devices that boards may be reached on, each with a tick box. "Flash all" runs the
// Download page's current settings on every ticked board at once, a row each with
// its progress, phase, bytes, rate and result; a click on the row's "Log" cell
// shows that board's status log.
//
// Each board is a BoardRun with its own link and threads; a timer on the GUI thread
// reads their state into the rows, so the controls are touched on the GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "download/board_run.h"
#include "download/session.h"
#include "ui/win32/page_dialog.h"

namespace sealbench::win32 {

class CWindowBoard;

class CBoardsPage : public CPageDialog {
public:
    // What the page needs of the window: the Download page's settings as they stand,
    // whether it is busy, the board the window holds (let go for the run when a
    // ticked board is that one) and the window's session.
    struct WindowSide {
        std::function<RunSettings()> settings;
        std::function<bool()> downloadBusy;
        CWindowBoard* board = nullptr;
        Session* session = nullptr;
    };

    explicit CBoardsPage(WindowSide window);
    ~CBoardsPage() override;

    void RefreshBoards();
    bool Running() const { return running_; }
    // Stops every board and waits for them (closing the window).
    void StopAll();

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

private:
    class BoardLog;
    struct Candidate {
        BoardAddress address;
        std::string label;
    };

    void OnFlashAll();
    void UpdateRows();
    void ShowLog(int row);
    void ShowText(const std::string& text);
    void Finish();

    WindowSide window_;
    std::vector<Candidate> candidates_;
    std::vector<std::unique_ptr<BoardLog>> logs_;
    std::vector<std::unique_ptr<BoardRun>> runs_;
    bool running_ = false;
    bool releasedSerial_ = false;
};

}  // namespace sealbench::win32
