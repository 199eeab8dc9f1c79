// CBoardsPage (Win32): the "Boards" tab. It lists the serial ports and USB boot
// devices that boards may be reached on, each with a tick box. "Flash all" runs the
// Download page's current settings on every ticked board at once, a row each with
// its progress bar, phase, bytes, rate and result; a click on the row's "Log" cell
// shows that board's status log. "Run as station" makes the ticked places a
// station's slots instead, a row each: the board in it (its identity), its stage
// and progress, the slot's last result, and for a failure "Why?" with the reason and
// that board's log; the line's counts and units per hour above the rows.
//
// Each board is a BoardRun with its own link and threads, each slot a thread of the
// Station; a timer on the GUI thread reads their state into the rows, so the controls
// are touched on the GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "download/board/board_row.h"
#include "download/board/board_run.h"
#include "station/station.h"
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

    // What the station tells of each board as it ends: the rows read its snapshot instead.
    class QuietStation final : public StationView {
        void BoardEnded(const BoardRecord&, const std::string&) override {}
    };

    std::vector<BoardAddress> TickedBoards() const;
    void OnFlashAll();
    void OnStation();
    // A row with a bar for each name, under the given column headings.
    void StartRows(const std::vector<std::string>& names, const char* const* headings);
    void BeginRunning();
    void UpdateRows();
    void UpdateSlots();
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
    QuietStation quiet_;
    std::unique_ptr<Station> station_;  // the last station, kept for its slots' "Why?"
    bool running_ = false;
};

}  // namespace sealbench::win32
