// What a window's "Boards" page shows of one board, without a toolkit: a row's
// texts and bar made from the board's status, and the board's status log kept for
// the row's "Log" button. The Qt and Win32 pages draw the same row.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "download/board/board_run.h"
#include "download/run/run_view.h"

namespace sealbench {

struct BoardRow {
    static constexpr int kBarRange = 1000;  // the bar runs from 0 to this
    int bar = 0;
    std::string phase;   // "waiting", "opening", the bar's caption, "done", "stopped", "failed"
    std::string bytes;   // payload bytes sent, once there are any
    std::string rate;    // "11.2 KiB/s"
    std::string result;  // "OK", "FAILED - REASON", or empty while the board runs
    bool failed = false;
};

BoardRow RowOf(const BoardStatus& status);
// A transfer rate as the row shows it; empty for none.
std::string RateText(double bytesPerSecond);

// One board's status log and what the library said on its threads, line by line,
// for the row's "Log" button. Called from the board's threads.
class BoardLog : public RunView {
public:
    void AppendLog(std::string_view line, int) override { Add(line); }
    void SetProgressRange(int64_t, int64_t) override {}
    void SetProgressPosition(int64_t) override {}
    void SetProgressCaption(std::string_view) override {}
    void Diagnostic(std::string_view text) override { Add(text); }

    std::vector<std::string> Lines() const;
    // The lines joined with "\n".
    std::string Text() const;

private:
    void Add(std::string_view line);

    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace sealbench
