// CBoardsPage (Win32): the "Boards" tab. It lists the serial ports and USB boot
// devices that boards may be reached on, each with a tick box. "Flash all" runs the
// Download page's current settings on every ticked board at once, a row each with
// its progress bar, phase, bytes, rate and result; a click on the row's "Log" cell
// shows that board's status log.
//
// Each board is a BoardRun with its own link and threads; a timer on the GUI thread
// reads their state into the rows, so the controls are touched on the GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "download/board/board_row.h"
#include "download/board/board_run.h"
#include "ui/win32/page_dialog.h"

namespace sealbench::win32 {

class CBoardsPage : public CPageDialog {
public:
    // What the page needs of the window: the Download page's settings as they stand,
    // whether it is busy, and the window's board let go for a run that needs it (it
    // is exclusive) and taken again after.
    struct WindowSide {
        std::function<RunSettings()> settings;
        std::function<bool()> downloadBusy;
        std::function<void(const std::vector<BoardAddress>&)> release;
        std::function<void()> restore;
        // Told on the GUI thread when a "Flash all" begins and when its last board ends.
        std::function<void(bool running)> runningChanged;
    };

    explicit CBoardsPage(WindowSide window);
    ~CBoardsPage() override;

    // Lists the ports and devices again, keeping the ticks of those still there.
    void RefreshBoards();
    bool Running() const { return running_; }
    // Stops every board and waits for them (closing the window).
    void StopAll();
    // The bar of row `row`, for tests; nullptr when there is none.
    HWND RowBar(size_t row) const { return row < bars_.size() ? bars_[row] : nullptr; }

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

private:
    struct Candidate {
        BoardAddress address;
        std::string label;
    };

    void OnFlashAll();
    void UpdateRows();
    // Puts each row's bar over its cell (after a scroll or a new row).
    void PlaceBars();
    void ShowLog(int row);
    void ShowText(const std::string& text);
    void Finish();

    WindowSide window_;
    std::vector<Candidate> candidates_;
    std::vector<std::unique_ptr<BoardLog>> logs_;
    std::vector<std::unique_ptr<BoardRun>> runs_;
    std::vector<HWND> bars_;  // children of the table, one a row
    bool running_ = false;
};

}  // namespace sealbench::win32
