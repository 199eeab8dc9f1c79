// "Execute" and the debug operations of the download page, without a toolkit.
//
// Runner checks the page's settings in a fixed order, runs the memory
// initialisation on the caller's thread, then starts the worker (which talks to the
// board through the sequence of run_sequence.h) and the progress task (which drives
// the bar through ProgressTracker) on threads of their own and returns. Both report
// through the RunView. The front end hands every call the board to talk to and owns
// the Session; several runners on several links may run at once. One run at a time
// per runner: a second "Execute" during a run is refused with a log line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "run_sequence.h"
#include "run_settings.h"
#include "run_view.h"
#include "session.h"

namespace sealbench {

class Runner : private RunObserver {
public:
    Runner(RunView& view, Session& session) : view_(view), session_(session) {}
    // Abandons a flashing run's polling and waits for the tasks to end.
    ~Runner() override;
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // "Execute". True when the tasks were started; every refusal has logged one line.
    bool Execute(const RunSettings& settings, const BoardLink& board);

    // True from "Execute" until both tasks have ended.
    bool Running() const { return running_.load(); }
    // Waits for the run's tasks to end; false when `timeout` passed first.
    bool WaitIdle(std::chrono::milliseconds timeout);
    // The outcome of the last run that ended.
    bool LastRunSucceeded() const { return lastSuccess_.load(); }
    int Phase() const { return phase_.load(); }
    // Payload bytes of this run's download sent so far, and how many it sends in all.
    uint64_t BytesSent() const { return bytesSent_.load(); }
    uint64_t BytesToSend() const { return bytesToSend_.load(); }
    // Abandons the run: its status polling ends at once, a download with its next send.
    void Stop();

    // The hidden debug buttons: "Read", "Check Sekurel Status", "Mem Init?". They log
    // their line and refuse while a run is in progress.
    void ReadMemory(const RunSettings& settings, const BoardLink& board, std::string_view addressText);
    void CheckSekurelStatus(const RunSettings& settings, const BoardLink& board);
    // False when the memory initialisation failed.
    bool MemoryInitAlone(const RunSettings& settings, const BoardLink& board);

private:
    // The debug buttons work without a port as the page's did: every command fails.
    bootwire::Link& LinkOf(const BoardLink& board);
    void Log(std::string_view line);
    void Fail(std::string_view text);  // "Error! - %s"
    void ReportFailure(const Outcome& outcome);
    bool RefuseDuringRun();
    bool CheckChannel(const BoardLink& board);
    void JoinTasks();

    void Worker(RunPlan plan, bootwire::Link* link, bool usb, std::stop_token stop);
    void ProgressTask();
    void TaskEnded();
    void SetPhase(int phase);
    void Notify();

    // RunObserver: the worker's reports.
    void DownloadStarted(uint64_t bytesToSend, uint32_t imageSize) override;
    void BytesSent(size_t bytes) override;
    void FlashingDownloadDone() override;
    void FlashingStarted() override;
    void StatusWord(uint32_t word) override;
    void Diagnostic(std::string_view text) override;

    RunView& view_;
    Session& session_;
    bootwire::Link noBoard_;  // never opened

    // Run state shared by the front end's thread and the two tasks.
    std::atomic<bool> running_{false};
    std::atomic<bool> lastSuccess_{false};
    std::atomic<int> phase_{kPhaseIdle};
    std::atomic<int> activeTasks_{0};
    std::atomic<uint64_t> bytesSent_{0};
    std::atomic<uint64_t> bytesToSend_{0};
    std::atomic<uint64_t> statusWords_{0};
    std::atomic<uint32_t> imageSize_{0};

    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t version_ = 0;  // under mutex_: bumped by every change the progress task follows
    bool stop_ = false;     // under mutex_
    std::stop_source stopSource_;

    std::thread worker_;
    std::thread progress_;
};

}  // namespace sealbench
