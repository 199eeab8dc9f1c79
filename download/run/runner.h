// "Execute" and the debug operations of the download page, without a toolkit.
//
// Runner plans the page's settings (download/plan/run_plan.h), runs the memory
// initialisation on the caller's thread, then starts the worker (which talks to the
// board through the sequence of run_sequence.h) and the progress task (which drives
// the bar through ProgressTracker) on threads of their own and returns. Both report
// through the RunView. The front end hands every call the board to talk to and owns
// the Session; several runners on several links may run at once. One run at a time
// per runner: a second "Execute" during a run is refused with a log line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "download/plan/run_plan.h"
#include "download/plan/run_settings.h"
#include "download/run/progress.h"
#include "download/run/run_sequence.h"
#include "download/run/run_view.h"
#include "download/run/session.h"

namespace sealbench {

class Runner : private RunObserver {
public:
    Runner(RunView& view, Session& session) : view_(view), session_(session) {}
    // Stops the run (it ends at its next send or receive) and waits for its tasks.
    ~Runner() override;
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // "Execute": plans `settings` for `board` and runs the plan. True when the tasks
    // were started; every refusal has logged its line.
    bool Execute(const RunSettings& settings, const BoardLink& board);
    // The same for a plan made before the board was opened.
    bool Execute(const PlannedRun& planned, const BoardLink& board);

    // True from "Execute" until both tasks have ended.
    bool Running() const;
    // Waits for the run's tasks to end; false when `timeout` passed first.
    bool WaitIdle(std::chrono::milliseconds timeout);
    // The outcome of the last run that ended.
    bool LastRunSucceeded() const;
    // The run's state as one value, as the progress task last published it.
    RunSnapshot Snapshot() const;
    // Stops the run: it ends at its next send or receive on the board, with a line
    // that says it was stopped. Safe from any thread.
    void Stop();
    // Stop, and every operation started from now on stops at once (the front end is
    // closing).
    void Shutdown();

    // The hidden debug buttons: "Read", "Check Sekurel Status", "Mem Init?". They log
    // their line and refuse while a run is in progress.
    void ReadMemory(const BoardLink& board, std::string_view addressText);
    void CheckSekurelStatus(const BoardLink& board);
    // False when the memory initialisation failed.
    bool MemoryInitAlone(const RunSettings& settings, const BoardLink& board);

private:
    // The debug buttons work without a port as the page's did: every command fails.
    bootwire::Link& LinkOf(const BoardLink& board);
    void Log(std::string_view line);
    void Fail(std::string_view text);  // "Error! - %s"
    void ReportFailure(const Outcome& outcome);
    bool RefuseDuringRun();
    // A fresh stop for the operation that begins, set on its link.
    std::stop_token ArmStop(bootwire::Link& link);
    void JoinTasks();

    void Worker(RunPlan plan, bootwire::Link* link, bool usb, std::stop_token stop);
    void ProgressTask();
    void TaskEnded();
    // Changes the published state under the lock and wakes the progress task.
    template <typename Change>
    void Publish(Change change);

    // RunObserver: the worker's reports.
    void DownloadStarted(uint64_t bytesToSend, uint32_t imageSize) override;
    void BytesSent(size_t bytes) override;
    void FlashingDownloadDone() override;
    void FlashingStarted() override;
    void StatusWord(uint32_t word) override;
    void StageEntered(unsigned stage) override;
    void FlashWritten(uint64_t bytes) override;
    void Diagnostic(std::string_view text) override;
    void BlocksCompared(uint32_t blocks, uint32_t skipped) override;
    void StatusLine(std::string_view line) override;

    RunView& view_;
    Session& session_;
    bootwire::Link noBoard_;  // never opened

    // Shared by the front end's thread and the two tasks, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    RunSnapshot state_;
    uint64_t version_ = 0;  // bumped by every change the progress task follows
    bool running_ = false;
    bool lastSuccess_ = false;
    int activeTasks_ = 0;
    bool trackerDone_ = false;  // the progress task has shown the run's end
    bool closing_ = false;      // the runner is going away: the tasks end now
    bool shutdown_ = false;     // every operation stops at once
    std::stop_source stopSource_;

    std::thread worker_;
    std::thread progress_;
};

}  // namespace sealbench
