#include "download/run/runner.h"

#include <algorithm>

#include "common/hex_text.h"
#include "download/memory/memory_init.h"
#include "download/plan/run_plan.h"
#include "download/run/progress.h"

namespace sealbench {
namespace {

// The bar need not follow a download faster than the eye does.
constexpr auto kProgressInterval = std::chrono::milliseconds(20);
// Without news the progress task still looks this often, so that the times move.
constexpr auto kProgressTick = std::chrono::milliseconds(500);
// The worker lets the bar show the run's end before it logs the outcome; a progress
// task that does not get there in this time is not waited for.
constexpr auto kTrackerEndWait = std::chrono::seconds(2);

// The built-in flash libraries report their stage's progress in the status word.
bool ProgressInWord(const RunPlan& plan) {
    return plan.operation == OperationType::Flashing &&
           (plan.flashType == FlashType::Nor || plan.flashType == FlashType::Nand);
}

RunSummary SummaryOf(const RunPlan& plan, bool success, uint64_t sent, uint64_t toSend,
                     std::chrono::milliseconds elapsed) {
    RunSummary s;
    s.success = success;
    s.flashing = plan.operation != OperationType::DownloadOnly;
    s.address = plan.address;
    s.imageBytes = plan.operation == OperationType::Erase ? plan.eraseLength : plan.imageSize;
    s.bytesSent = sent;
    s.bytesToSend = toSend;
    s.elapsed = elapsed;
    if (!s.flashing) {
        s.target = "RAM";
        s.verified = "the boot ROM accepted it";
    } else if (plan.flashType == FlashType::Nor) {
        s.target = "NOR flash";
    } else if (plan.flashType == FlashType::Nand) {
        s.target = "NAND flash";
        s.addressIsOffset = true;
    } else {
        s.target = "flash";
        s.verified = "the flash library reported success";
    }
    if (s.flashing && ProgressInWord(plan)) {
        s.verified = "verified by the flash library's read-back";
    }
    if (plan.operation == OperationType::Verify) {
        s.verb = "Compared";
        s.preposition = "with";
        s.verified = "by the flash library's block digests";
    } else if (plan.operation == OperationType::Erase) {
        s.verb = "Erased";
        s.preposition = "of";
        s.verified = "the sectors or blocks that cover it";
    }
    if (!success) {
        s.verified.clear();
    }
    return s;
}

}  // namespace

Runner::~Runner() {
    {
        std::lock_guard lock(mutex_);
        stopSource_.request_stop();
        closing_ = true;
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
    if (Running()) {
        Fail("A run is in progress; wait for it to end");
        return true;
    }
    return false;
}

std::stop_token Runner::ArmStop(bootwire::Link& link) {
    std::stop_token stop;
    {
        // Under the lock: Stop() may come from another thread at any time.
        std::lock_guard lock(mutex_);
        stopSource_ = std::stop_source();
        if (shutdown_) stopSource_.request_stop();
        stop = stopSource_.get_token();
    }
    link.SetStopToken(stop);
    return stop;
}

bool Runner::Execute(const RunSettings& settings, const BoardLink& board) {
    RunChannel channel;
    channel.chosen = board.link != nullptr;
    channel.usb = board.usb;
    channel.port = board.link && !board.usb ? board.link->Describe() : std::string();
    return Execute(PlanRun(settings, channel), board);
}

bool Runner::Execute(const PlannedRun& planned, const BoardLink& given) {
    if (RefuseDuringRun()) {
        return false;
    }
    view_.ResetProgress();
    if (!planned.Ok() && planned.step == PlanStep::Processor) {
        Log(planned.refusal.message);
        return false;
    }
    if (session_.bannerPending.exchange(false)) {
        Log(PresetOf(planned.processor).banner);
    }
    BoardLink board = given;
    if (board.usb && session_.flashingDownloadDone.load() && board.reenumerate) {
        board.link = board.reenumerate();
    }
    if (!planned.Ok()) {
        Log(planned.RefusalLine());
        if (!planned.refusal.detail.empty()) {
            Log(planned.refusal.detail);
        }
        return false;
    }
    if (board.link == nullptr) {
        Fail("Please select the Com port");
        return false;
    }
    const RunPlan& plan = *planned.plan;
    Log(board.usb ? "USB is using" : "UART is using");
    std::stop_token stop = ArmStop(*board.link);
    Outcome init;
    {
        ReceiveLimit limit(*board.link);
        init = RunMemoryInit(*board.link, plan.processor, plan.memoryInit);
    }
    if (!init.Ok()) {
        board.link->SetStopToken({});
        if (stop.stop_requested()) {
            Log("Error!!- Reason: " + std::string(kStoppedText));
        } else {
            ReportFailure(init);
        }
        return false;
    }

    JoinTasks();  // the previous run's tasks have ended (it is not running)
    {
        std::lock_guard lock(mutex_);
        state_ = RunSnapshot();
        state_.progressInWord = ProgressInWord(plan);
        trackerDone_ = false;
        activeTasks_ = 2;
        running_ = true;
        ++version_;
    }
    progress_ = std::thread([this] { ProgressTask(); });
    worker_ = std::thread(
        [this, p = plan, link = board.link, usb = board.usb, stop = std::move(stop)] { Worker(p, link, usb, stop); });
    return true;
}

bool Runner::Running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

bool Runner::LastRunSucceeded() const {
    std::lock_guard lock(mutex_);
    return lastSuccess_;
}

RunSnapshot Runner::Snapshot() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool Runner::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return !running_; });
}

void Runner::Stop() {
    std::lock_guard lock(mutex_);
    stopSource_.request_stop();
}

void Runner::Shutdown() {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
    stopSource_.request_stop();
}

template <typename Change>
void Runner::Publish(Change change) {
    {
        std::lock_guard lock(mutex_);
        change(state_);
        ++version_;
    }
    changed_.notify_all();
}

void Runner::TaskEnded() {
    bool success = false;
    {
        std::lock_guard lock(mutex_);
        if (--activeTasks_ != 0) {
            return;
        }
        success = lastSuccess_;
    }
    // Reported before the run counts as ended, so that whoever waits for the end
    // finds the report made.
    view_.RunEnded(success);
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        ++version_;
    }
    changed_.notify_all();
}

void Runner::Worker(RunPlan plan, bootwire::Link* link, bool usb, std::stop_token stop) {
    session_.flashingDownloadDone = false;
    ProgressClock::time_point start = ProgressClock::now();
    Outcome outcome = RunSequence(*link, plan, usb, *this, stop);
    link->SetStopToken({});
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(ProgressClock::now() - start);
    if (!outcome.diagnostic.empty()) {
        view_.Diagnostic(outcome.diagnostic);
    }
    RunSnapshot last;
    {
        std::unique_lock lock(mutex_);
        lastSuccess_ = outcome.Ok();
        state_.succeeded = outcome.Ok();
        state_.phase = kPhaseFinished;
        ++version_;
        changed_.notify_all();
        // The bar shows the end (a last stage full) before the line that tells it.
        changed_.wait_for(lock, kTrackerEndWait, [this] { return trackerDone_ || closing_; });
        last = state_;
    }
    // A success's detail (the fast run's verification) comes before the success
    // itself; each of its lines is a line of the log.
    auto logDetail = [&] {
        for (size_t at = 0; at < outcome.detail.size();) {
            const size_t end = std::min(outcome.detail.find('\n', at), outcome.detail.size());
            Log(outcome.detail.substr(at, end - at));
            at = end + 1;
        }
    };
    if (outcome.Ok()) {
        logDetail();
    }
    Log(outcome.Ok() ? outcome.message : "Error!!- Reason: " + outcome.message);
    if (!outcome.Ok()) {
        logDetail();
    }
    if (last.bytesToSend > 0) {
        RunSummary summary = SummaryOf(plan, outcome.Ok(), last.bytesSent, last.bytesToSend, elapsed);
        // Verify reads the flash and writes nothing.
        summary.flashTouched = (last.stagesSeen & kStageFlashing) != 0 && plan.operation != OperationType::Verify;
        // A stream's line carries the library first and then the image's blocks: what
        // counts after a failure is how much of the image reached the flash.
        summary.streamed = last.measured && plan.operation == OperationType::Flashing;
        summary.bytesProgrammed = last.bytesProgrammed;
        summary.blocks = last.blocks;
        summary.blocksSkipped = last.blocksSkipped;
        view_.Summary(summary);
    }
    TaskEnded();
}

void Runner::DownloadStarted(uint64_t bytesToSend, uint32_t imageSize) {
    Publish([&](RunSnapshot& s) {
        s.bytesToSend = bytesToSend;
        s.imageSize = imageSize;
        s.stagesSeen |= kStageDownloading;
        s.phase = kPhaseDownloading;
    });
}

void Runner::BytesSent(size_t bytes) {
    Publish([&](RunSnapshot& s) { s.bytesSent += bytes; });
}

void Runner::FlashingDownloadDone() { session_.flashingDownloadDone = true; }

void Runner::FlashingStarted() {
    Publish([](RunSnapshot& s) {
        s.stagesSeen |= kStageFlashing;
        s.phase = kPhaseFlashingStarted;
    });
}

void Runner::StatusWord(uint32_t word) {
    Publish([&](RunSnapshot& s) {
        s.statusWords += 1;
        s.lastWord = word;
        // Only the codes of the flash library move the phase: a stray word such as
        // 0x00030000 must not pass for "finished".
        int code = static_cast<int16_t>(word >> 16);
        if (code == kStateErasing) {
            s.stagesSeen |= kStageErasing;
        } else if (code == kStateProgramming) {
            s.stagesSeen |= kStageProgramming;
        } else if (code == kStateVerifying) {
            s.stagesSeen |= kStageVerifying;
        }
        if (IsStateCode(code)) {
            s.phase = code;
        }
    });
}

void Runner::StageEntered(unsigned stage) {
    Publish([&](RunSnapshot& s) { s.stagesSeen |= stage; });
}

void Runner::FlashWritten(uint64_t bytes) {
    Publish([&](RunSnapshot& s) {
        s.bytesWritten = bytes;
        s.measured = true;
        if ((s.stagesSeen & kStageProgramming) != 0 && (s.stagesSeen & kStageVerifying) == 0)
            s.bytesProgrammed = std::max(s.bytesProgrammed, bytes);
    });
}

void Runner::Diagnostic(std::string_view text) { view_.Diagnostic(text); }

void Runner::BlocksCompared(uint32_t blocks, uint32_t skipped) {
    Publish([&](RunSnapshot& s) {
        s.blocks = blocks;
        s.blocksSkipped = skipped;
    });
}

void Runner::StatusLine(std::string_view line) { Log(line); }

void Runner::ProgressTask() {
    ProgressTracker tracker(view_);
    uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait_for(lock, kProgressTick, [&] { return version_ != seen || closing_; });
        seen = version_;
        const bool closing = closing_;
        const RunSnapshot state = state_;  // one value: no field from another moment
        lock.unlock();

        tracker.Update(state);
        if (tracker.Finished() || closing) {
            break;
        }
        lock.lock();
        // Between two looks at the state: wake early only for a new phase.
        changed_.wait_for(lock, kProgressInterval, [&] { return state_.phase != state.phase || closing_; });
    }
    {
        std::lock_guard guard(mutex_);
        trackerDone_ = true;
        ++version_;
    }
    changed_.notify_all();
    // The worker may still write the finished phase after 0xB4 was seen: wait for it,
    // so that the idle phase below is the last word of the run.
    lock.lock();
    changed_.wait(lock, [&] { return state_.phase == kPhaseFinished || closing_; });
    state_.phase = kPhaseIdle;
    lock.unlock();
    TaskEnded();
}

void Runner::ReadMemory(const BoardLink& board, std::string_view addressText) {
    if (RefuseDuringRun()) {
        return;
    }
    std::optional<uint32_t> address = ReadHexField(addressText);
    if (!address) {
        Fail("The address must have at most 8 hexadecimal digits");
        return;
    }
    bootwire::Link& link = LinkOf(board);
    ArmStop(link);
    Result<uint32_t> read = ReadMemoryWord(link, *address);
    link.SetStopToken({});
    if (!read.Ok()) {
        view_.Diagnostic(read.outcome.diagnostic);
    }
    Log(ReadMemoryLine(*address, read.value));
}

void Runner::CheckSekurelStatus(const BoardLink& board) {
    if (RefuseDuringRun()) {
        return;
    }
    bootwire::Link& link = LinkOf(board);
    ArmStop(link);
    Result<uint32_t> status = ReadSekurelStatus(link);
    link.SetStopToken({});
    if (!status.Ok()) {
        view_.Diagnostic(status.outcome.diagnostic);
    }
    Log(SekurelStatusLine(status.value));
}

bool Runner::MemoryInitAlone(const RunSettings& settings, const BoardLink& board) {
    if (RefuseDuringRun()) {
        return false;
    }
    bootwire::Link& link = LinkOf(board);
    ArmStop(link);
    Outcome init;
    {
        ReceiveLimit limit(link);
        init = RunMemoryInit(link, settings.processor, settings.memoryInit);
    }
    link.SetStopToken({});
    if (!init.Ok()) {
        ReportFailure(init);
        return false;
    }
    Log("Memory Init Done - ");
    return true;
}

}  // namespace sealbench
