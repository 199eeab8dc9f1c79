// One board of several run at once (sealbench-cli's repeated --port and
// --usb-device, the window's "Boards" page), without a toolkit.
//
// A BoardRun has its own thread, link, session and runner. For each try it plans the
// settings it was given, opens the board's port or USB device (OpenBoard) only when
// the plan holds, runs it and waits for the run to end, then closes the link; a
// failed try is followed by another, up to the number of retries. A command line's
// one board is a BoardRun too. Every status-log line and progress call of its runner is
// passed on to the front end's view; Status() tells where the board stands for
// a display that refreshes on its own clock. Boards share nothing, so one that fails
// (cannot be opened, does not answer, goes away) fails alone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "download/board/failure_reason.h"
#include "download/board/open_board.h"
#include "download/plan/run_settings.h"
#include "download/run/run_view.h"
#include "download/run/runner.h"
#include "download/run/session.h"

namespace sealbench {

enum class BoardState { Waiting, Opening, Running, Succeeded, Failed, Stopped };

// Ended: Succeeded, Failed or Stopped.
bool BoardEnded(BoardState state);

struct BoardStatus {
    BoardState state = BoardState::Waiting;
    int tries = 0;            // tries started so far
    std::string caption;      // the bar's caption ("Downloading:", "Flash Program:"...)
    int64_t progressMax = 0;  // the bar's range, from 0
    int64_t progress = 0;
    uint64_t bytesSent = 0;                // payload bytes of the latest try's download
    double bytesPerSecond = 0;             // the download's rate: so far while it runs, its whole once done
    std::chrono::milliseconds elapsed{0};  // since Start, until the end
    std::string reason;                    // why the board failed, as its log said it
    // A try before the last ran the flash library and the last did not get as far:
    // the flash may hold part of the image, which the last try's failure does not tell.
    bool earlierTryTouchedFlash = false;
};

class BoardRun : private RunView {
public:
    // Pause between a failed try and the next, so that a USB device that was reset
    // can come back.
    static constexpr std::chrono::milliseconds kRetryPause{500};

    // Every log line and progress call of the board's runs go to `view`, from the
    // board's threads. With `routeDiagnostics`, what the library says on the board's
    // threads goes to the view's Diagnostic too (several boards: each its own),
    // instead of the process's diagnostic handler.
    BoardRun(BoardAddress address, RunView& view, bool routeDiagnostics = false);
    // Stops the board and waits for its thread.
    ~BoardRun() override;
    BoardRun(const BoardRun&) = delete;
    BoardRun& operator=(const BoardRun&) = delete;

    // Starts the first try; `retries` more follow a failure. Once per BoardRun.
    void Start(const RunSettings& settings, int retries);
    // Ends the board's run: a download at its next piece, the status polling at once.
    void Stop();
    // Waits for the board to end; false when `timeout` passed first.
    bool Wait(std::chrono::milliseconds timeout);

    const BoardAddress& Address() const { return address_; }
    BoardStatus Status() const;

private:
    void Body(RunSettings settings, int retries);
    // One try: true when the board's run succeeded.
    bool Try(const RunSettings& settings);
    void SetState(BoardState state);
    void Pause(std::chrono::milliseconds pause);

    // RunView: the runner's reports, noted and passed on.
    void AppendLog(std::string_view line, int lineCount) override;
    void SetProgressRange(int64_t minimum, int64_t maximum) override;
    void SetProgressPosition(int64_t position) override;
    void SetProgressCaption(std::string_view caption) override;
    void SetProgressFigures(const ProgressFigures& figures) override;
    void ResetProgress() override;
    void Diagnostic(std::string_view text) override;
    void Summary(const RunSummary& summary) override;
    void RunEnded(bool success) override;

    using Clock = std::chrono::steady_clock;

    BoardAddress address_;
    RunView& view_;
    bool routeDiagnostics_;
    Session session_;
    std::unique_ptr<Runner> runner_;
    std::stop_source stop_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    BoardStatus status_;  // under mutex_
    Clock::time_point started_;
    Clock::time_point downloadStarted_;
    bool downloading_ = false;
    FailureReason reason_;             // under mutex_
    bool anyTryTouchedFlash_ = false;  // under mutex_
    bool tryTouchedFlash_ = false;     // this try's; under mutex_

    std::thread thread_;
};

}  // namespace sealbench
