// "Execute" and the debug operations of the download page, without a toolkit.
//
// TargetRunner checks the page's settings in a fixed order, runs the memory
// initialisation on the caller's thread, then starts the worker (which talks to
// the target) and the progress task (which drives the bar) on threads of their
// own and returns. Both report through the RunView. One run at a time: a second
// "Execute" during a run is refused with a log line.
#pragma once

#include <bootwire/bootwire.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "memory_init.h"
#include "run_settings.h"
#include "run_view.h"
#include "session.h"

namespace sealbench {

// Run phases as the progress task sees them; during flashing the phase is the
// state code of the latest status word.
enum RunPhase : int {
    kPhaseIdle = 0,
    kPhaseDownloading = 1,
    kPhaseFlashingStarted = 2,
    kPhaseFinished = 3,
    kStateErasing = 0xA1,
    kStateProgramming = 0xA2,
    kStateVerifying = 0xA3,
    kStateEraseFailed = 0xB1,
    kStateProgramFailed = 0xB2,
    kStateVerifyFailed = 0xB3,
    kStateCompleted = 0xB4,
};

// The links a runner talks over, and how the USB device is enumerated again
// (after a FLASHING run the board comes back as a new USB device).
struct TargetLinks {
    bootwire::Link* serial = nullptr;
    bootwire::Link* usb = nullptr;
    std::function<void()> reenumerateUsb;

    // The process-wide links of Bootwire.
    static TargetLinks Process();
};

class TargetRunner {
public:
    TargetRunner(TargetLinks links, RunView& view, Session& session = ProcessSession());
    // Abandons a flashing run's polling and waits for the tasks to end.
    ~TargetRunner();
    TargetRunner(const TargetRunner&) = delete;
    TargetRunner& operator=(const TargetRunner&) = delete;

    // "Execute". True when the tasks were started; every refusal has logged one line.
    bool Execute(const RunSettings& settings);

    // True from "Execute" until both tasks have ended.
    bool Running() const { return running_.load(); }
    // Waits for the run's tasks to end; false when `timeout` passed first.
    bool WaitIdle(std::chrono::milliseconds timeout);
    // The outcome of the last run that ended.
    bool LastRunSucceeded() const { return lastSuccess_.load(); }
    int Phase() const { return phase_.load(); }

    // The hidden debug buttons: "Read", "Check Sekurel Status", "Mem Init?".
    // They log their line and refuse while a run is in progress.
    void ReadMemory(const RunSettings& settings, std::string_view addressText);
    void CheckSekurelStatus(const RunSettings& settings);
    // False when the memory initialisation failed.
    bool MemoryInitAlone(const RunSettings& settings);

private:
    struct Outcome {
        bool success;
        std::string text;
    };

    bootwire::Link& LinkFor(const RunSettings& settings) const;
    void Log(std::string_view line);
    void Fail(std::string_view text);  // "Error! - %s"
    void ReportMemoryInitFailure(const MemoryInitResult& init);
    bool CheckInputs(const RunSettings& settings);
    bool RefuseDuringRun();

    void Worker(RunSettings settings);
    Outcome DownloadOnly(const RunSettings& settings, bootwire::Link& link);
    Outcome Flashing(const RunSettings& settings, bootwire::Link& link);
    Outcome PollFlashing(const RunSettings& settings, bootwire::Link& link);
    void ProgressTask();
    void TaskEnded();
    void SetPhase(int phase);
    void Notify();
    bool StopRequested();

    TargetLinks links_;
    RunView& view_;
    Session& session_;

    // Run state shared by the GUI thread and the two tasks.
    std::atomic<bool> running_{false};
    std::atomic<bool> lastSuccess_{false};
    std::atomic<int> phase_{kPhaseIdle};
    std::atomic<int> activeTasks_{0};
    std::atomic<uint64_t> bytesSent_{0};
    std::atomic<uint64_t> bytesToSend_{0};
    std::atomic<uint64_t> statusWords_{0};
    std::atomic<uint32_t> imageSize_{0};
    std::atomic<int> channel_{0};

    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t version_ = 0;  // under mutex_: bumped by every change the progress task follows
    bool stop_ = false;     // under mutex_

    std::thread worker_;
    std::thread progress_;
};

}  // namespace sealbench
