#include "runner.h"

#include "common/hex_text.h"
#include "memory_init.h"
#include "progress.h"
#include "run_plan.h"

namespace sealbench {
namespace {

// The bar need not follow a download faster than the eye does.
constexpr auto kProgressInterval = std::chrono::milliseconds(20);

}  // namespace

Runner::~Runner() {
    {
        std::lock_guard lock(mutex_);
        stopSource_.request_stop();
        stop_ = true;
    }
    changed_.notify_all();
    JoinTasks();
}

void Runner::JoinTasks() {
    for (std::thread* t : {&worker_, &progress_}) {
        if (!t->joinable()) {
            continue;
        }
        // A view may end its runner from the RunEnded report, on a task's own thread.
        if (t->get_id() == std::this_thread::get_id()) {
            t->detach();
        } else {
            t->join();
        }
    }
}

bootwire::Link& Runner::LinkOf(const BoardLink& board) { return board.link ? *board.link : noBoard_; }

void Runner::Log(std::string_view line) { AppendLog(view_, session_, line); }

void Runner::Fail(std::string_view text) { Log("Error! - " + std::string(text)); }

void Runner::ReportFailure(const Outcome& outcome) {
    Fail(outcome.message);
    if (!outcome.detail.empty()) {
        Log(outcome.detail);
    }
    if (!outcome.diagnostic.empty()) {
        view_.Diagnostic(outcome.diagnostic);
    }
}

bool Runner::RefuseDuringRun() {
    if (running_.load()) {
        Fail("A run is in progress; wait for it to end");
        return true;
    }
    return false;
}

bool Runner::CheckChannel(const BoardLink& board) {
    if (board.usb && session_.flashingDownloadDone.load() && board.reenumerate) {
        board.reenumerate();
    }
    if (board.link == nullptr) {
        Fail("Please select the Com port");
        return false;
    }
    return true;
}

bool Runner::Execute(const RunSettings& settings, const BoardLink& board) {
    if (RefuseDuringRun()) {
        return false;
    }
    if (std::optional<std::string_view> refusal = RefuseProcessor(settings)) {
        Log(*refusal);
        return false;
    }
    if (session_.bannerPending.exchange(false)) {
        Log(PresetOf(settings.processor).banner);
    }
    if (!CheckChannel(board)) {
        return false;
    }
    Result<RunPlan> plan = MakeRunPlan(settings);
    if (!plan.Ok()) {
        Fail(plan.outcome.message);
        return false;
    }
    Log(board.usb ? "USB is using" : "UART is using");
    Outcome init;
    {
        ReceiveLimit limit(*board.link);
        init = RunMemoryInit(*board.link, settings.processor, settings.memoryInit);
    }
    if (!init.Ok()) {
        ReportFailure(init);
        return false;
    }

    JoinTasks();  // the previous run's tasks have ended (running_ was false)
    std::stop_token stop;
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
        stopSource_ = std::stop_source();
        stop = stopSource_.get_token();
    }
    bytesSent_ = 0;
    bytesToSend_ = 0;
    statusWords_ = 0;
    imageSize_ = 0;
    phase_ = kPhaseIdle;
    activeTasks_ = 2;
    running_ = true;
    progress_ = std::thread([this] { ProgressTask(); });
    worker_ = std::thread([this, p = std::move(plan.value), link = board.link, usb = board.usb,
                           stop = std::move(stop)] { Worker(p, link, usb, stop); });
    return true;
}

bool Runner::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return !running_.load(); });
}

void Runner::Stop() {
    // Under the lock: another thread may be starting the next run's stop source.
    std::lock_guard lock(mutex_);
    stopSource_.request_stop();
}

void Runner::Notify() {
    {
        std::lock_guard lock(mutex_);
        ++version_;
    }
    changed_.notify_all();
}

void Runner::SetPhase(int phase) {
    phase_ = phase;
    Notify();
}

void Runner::TaskEnded() {
    if (activeTasks_.fetch_sub(1) != 1) {
        return;
    }
    // Reported before the run counts as ended, so that whoever waits for the end
    // finds the report made.
    view_.RunEnded(lastSuccess_.load());
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        ++version_;
    }
    changed_.notify_all();
}

void Runner::Worker(RunPlan plan, bootwire::Link* link, bool usb, std::stop_token stop) {
    session_.flashingDownloadDone = false;
    Outcome outcome = RunSequence(*link, plan, usb, *this, stop);
    if (!outcome.diagnostic.empty()) {
        view_.Diagnostic(outcome.diagnostic);
    }
    lastSuccess_ = outcome.Ok();
    SetPhase(kPhaseFinished);
    Log(outcome.Ok() ? outcome.message : "Error!!- Reason: " + outcome.message);
    TaskEnded();
}

void Runner::DownloadStarted(uint64_t bytesToSend, uint32_t imageSize) {
    bytesToSend_ = bytesToSend;
    imageSize_ = imageSize;
    SetPhase(kPhaseDownloading);
}

void Runner::BytesSent(size_t bytes) {
    bytesSent_ += bytes;
    Notify();
}

void Runner::FlashingDownloadDone() { session_.flashingDownloadDone = true; }

void Runner::FlashingStarted() { SetPhase(kPhaseFlashingStarted); }

void Runner::StatusWord(uint32_t word) {
    statusWords_ += 1;
    // Only the codes of the flash library move the phase: a stray word such as
    // 0x00030000 must not pass for "finished".
    int code = static_cast<int16_t>(word >> 16);
    if (IsStateCode(code)) {
        phase_ = code;
    }
    Notify();
}

void Runner::Diagnostic(std::string_view text) { view_.Diagnostic(text); }

void Runner::ProgressTask() {
    ProgressTracker tracker(view_);
    uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return version_ != seen || stop_; });
        seen = version_;
        bool stopping = stop_;
        lock.unlock();

        int phase = phase_.load();
        tracker.Update({phase, bytesSent_.load(), bytesToSend_.load(), statusWords_.load(), imageSize_.load()});
        if (tracker.Finished() || stopping) {
            break;
        }
        lock.lock();
        // Between two looks at the state: wake early only for a new phase.
        changed_.wait_for(lock, kProgressInterval, [&] { return phase_.load() != phase || stop_; });
    }
    // The worker may still write the finished phase after 0xB4 was seen: wait for it,
    // so that the idle phase below is the last word of the run.
    lock.lock();
    changed_.wait(lock, [&] { return phase_.load() == kPhaseFinished || stop_; });
    lock.unlock();
    phase_ = kPhaseIdle;
    TaskEnded();
}

void Runner::ReadMemory(const RunSettings&, const BoardLink& board, std::string_view addressText) {
    if (RefuseDuringRun()) {
        return;
    }
    std::optional<uint32_t> address = ReadHexField(addressText);
    if (!address) {
        Fail("The address must have at most 8 hexadecimal digits");
        return;
    }
    Result<uint32_t> read = ReadMemoryWord(LinkOf(board), *address);
    if (!read.Ok()) {
        view_.Diagnostic(read.outcome.diagnostic);
    }
    Log(ReadMemoryLine(*address, read.value));
}

void Runner::CheckSekurelStatus(const RunSettings&, const BoardLink& board) {
    if (RefuseDuringRun()) {
        return;
    }
    Result<uint32_t> status = ReadSekurelStatus(LinkOf(board));
    if (!status.Ok()) {
        view_.Diagnostic(status.outcome.diagnostic);
    }
    Log(SekurelStatusLine(status.value));
}

bool Runner::MemoryInitAlone(const RunSettings& settings, const BoardLink& board) {
    if (RefuseDuringRun()) {
        return false;
    }
    Outcome init;
    {
        ReceiveLimit limit(LinkOf(board));
        init = RunMemoryInit(LinkOf(board), settings.processor, settings.memoryInit);
    }
    if (!init.Ok()) {
        ReportFailure(init);
        return false;
    }
    Log("Memory Init Done - ");
    return true;
}

}  // namespace sealbench
