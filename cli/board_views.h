// The terminal output of several boards run at once. Each board's status-log lines
// go to stdout as "[NAME] LINE" and its diagnostics to stderr the same way; progress
// is a block of one line per board on stderr, redrawn in place (a terminal), or
// "[NAME] Caption NN%" lines at every tenth (plain), or nothing. At the end, one
// summary line per board on stdout, in the order the boards were given.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli_view.h"
#include "download/board/board_run.h"

namespace sealbench::cli {

class BoardsConsole {
public:
    BoardsConsole(ProgressMode mode, std::vector<std::string> names);
    ~BoardsConsole();
    BoardsConsole(const BoardsConsole&) = delete;
    BoardsConsole& operator=(const BoardsConsole&) = delete;

    // The view board `index` reports to.
    RunView& ViewOf(size_t index);
    // Shows the boards' progress until Finish() (a terminal only).
    void Follow(std::vector<const BoardRun*> boards);
    // Stops following and takes the progress block off the screen.
    void Finish();
    // One line of the command's own on stderr, clear of the progress block.
    void Note(const std::string& text);

private:
    class BoardView;
    friend class BoardView;

    void Log(size_t index, std::string_view line);
    void Diagnostic(size_t index, std::string_view text);
    void PlainProgress(size_t index, const std::string& caption, int percent);
    void Ticker();
    // Under mutex_.
    void ClearBlock();
    void DrawBlock();

    ProgressMode mode_;
    std::vector<std::string> names_;
    std::vector<std::unique_ptr<BoardView>> views_;
    std::vector<const BoardRun*> boards_;
    bool clearForLog_;  // stdout shares the screen: take the block off before a log line

    std::mutex mutex_;
    std::condition_variable wake_;
    bool finishing_ = false;  // under mutex_
    int drawnLines_ = 0;      // under mutex_
    std::thread ticker_;
};

// The summary line of one board on standard output: "NAME: OK" or "NAME: FAILED - REASON".
std::string SummaryLine(const std::string& name, const BoardStatus& status);

// One board's row of the figures table that precedes the summary on standard error:
// name (padded to `nameWidth`), verdict, bytes sent, time and tries.
std::string FiguresLine(const std::string& name, size_t nameWidth, const BoardStatus& status);

// One board's line of the progress block, at most `columns` long.
std::string ProgressLine(const std::string& name, size_t nameWidth, const BoardStatus& status, int columns);

}  // namespace sealbench::cli
