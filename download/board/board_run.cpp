#include "download/board/board_run.h"

#include <bootwire/bootwire.h>

#include <optional>

namespace sealbench {
namespace {

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

bool BoardEnded(BoardState state) {
    return state == BoardState::Succeeded || state == BoardState::Failed || state == BoardState::Stopped;
}

BoardRun::BoardRun(BoardAddress address, RunView& view, bool routeDiagnostics)
    : address_(std::move(address)), view_(view), routeDiagnostics_(routeDiagnostics) {
    runner_ = std::make_unique<Runner>(static_cast<RunView&>(*this), session_);
}

BoardRun::~BoardRun() {
    Stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    runner_.reset();  // its tasks report to this object
}

void BoardRun::Start(const RunSettings& settings, int retries) {
    started_ = Clock::now();
    thread_ = std::thread([this, settings, retries] {
        std::optional<bootwire::DiagnosticScope> scope;
        if (routeDiagnostics_) scope.emplace([this](std::string_view line) { view_.Diagnostic(line); });
        Body(settings, retries);
    });
}

void BoardRun::Stop() {
    stop_.request_stop();
    runner_->Stop();
    changed_.notify_all();
}

bool BoardRun::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return BoardEnded(status_.state); });
}

BoardStatus BoardRun::Status() const {
    std::lock_guard lock(mutex_);
    BoardStatus status = status_;
    if (!BoardEnded(status.state)) {
        status.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
        if (downloading_) {
            status.bytesSent = runner_->Snapshot().bytesSent;
            double seconds = std::chrono::duration<double>(Clock::now() - downloadStarted_).count();
            status.bytesPerSecond = seconds > 0.05 ? static_cast<double>(status.bytesSent) / seconds : 0;
        }
    }
    return status;
}

void BoardRun::SetState(BoardState state) {
    {
        std::lock_guard lock(mutex_);
        status_.state = state;
        if (BoardEnded(state)) {
            status_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
        }
    }
    changed_.notify_all();
}

void BoardRun::Pause(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, pause, [this] { return stop_.stop_requested(); });
}

void BoardRun::Body(RunSettings settings, int retries) {
    bool success = false;
    for (int attempt = 1; !stop_.stop_requested(); ++attempt) {
        {
            std::lock_guard lock(mutex_);
            status_.tries = attempt;
            status_.reason.clear();
            // Each try shows its own progress from the start.
            status_.caption.clear();
            status_.progress = 0;
            status_.progressMax = 0;
            status_.bytesPerSecond = 0;
            downloading_ = false;
            reason_.Clear();
            tryTouchedFlash_ = false;
        }
        success = Try(settings);
        if (success || attempt > retries || stop_.stop_requested()) {
            break;
        }
        Pause(kRetryPause);
    }
    {
        std::lock_guard lock(mutex_);
        status_.bytesSent = runner_->Snapshot().bytesSent;
        if (stop_.stop_requested() && !success) {
            status_.reason = "Stopped";
        }
        status_.earlierTryTouchedFlash = !success && anyTryTouchedFlash_ && !tryTouchedFlash_;
    }
    SetState(success ? BoardState::Succeeded : stop_.stop_requested() ? BoardState::Stopped : BoardState::Failed);
}

bool BoardRun::Try(const RunSettings& settings) {
    RunChannel channel;
    channel.chosen = address_.usb || !address_.port.empty();
    channel.usb = address_.usb;
    channel.port = address_.usb ? std::string() : address_.port;
    const PlannedRun planned = PlanRun(settings, channel);
    if (!planned.Ok()) {
        // Nothing to open for: the runner logs the refusal as "Execute" does.
        runner_->Execute(planned, BoardLink{});
        return false;
    }
    SetState(BoardState::Opening);
    Result<OpenedBoard> opened = OpenBoard(address_, settings.processor);
    if (!opened.Ok()) {
        {
            std::lock_guard lock(mutex_);
            status_.reason = FirstLine(opened.outcome.message);
        }
        const std::string& detail = opened.outcome.detail;
        view_.Diagnostic(opened.outcome.message + (detail.empty() ? "" : "\n" + detail));
        return false;
    }
    if (!opened.value.notice.empty()) {
        view_.Diagnostic(
            opened.value.notice);  // what the port cannot do (a raw TCP port keeps the server's line settings)
    }
    SetState(BoardState::Running);
    bool success = false;
    if (!stop_.stop_requested() && runner_->Execute(planned, BoardLink{opened.value.link.get(), address_.usb, {}})) {
        while (!runner_->WaitIdle(std::chrono::milliseconds(100))) {
            if (stop_.stop_requested()) {
                runner_->Stop();  // again: a stop that came while the run was starting
            }
        }
        success = runner_->LastRunSucceeded();
    }
    opened.value.link.reset();  // the port is free between tries and once the board is done
    const uint64_t sent = runner_->Snapshot().bytesSent;
    std::lock_guard lock(mutex_);
    if (downloading_) {
        downloading_ = false;
        double seconds = std::chrono::duration<double>(Clock::now() - downloadStarted_).count();
        status_.bytesPerSecond = seconds > 0 ? static_cast<double>(sent) / seconds : 0;
    }
    status_.bytesSent = sent;
    if (!success) {
        status_.reason = reason_.Text();
    }
    return success;
}

void BoardRun::AppendLog(std::string_view line, int lineCount) {
    {
        std::lock_guard lock(mutex_);
        reason_.Note(line);
    }
    view_.AppendLog(line, lineCount);
}

void BoardRun::SetProgressRange(int64_t minimum, int64_t maximum) {
    {
        std::lock_guard lock(mutex_);
        status_.progressMax = maximum - minimum;
    }
    view_.SetProgressRange(minimum, maximum);
}

void BoardRun::SetProgressPosition(int64_t position) {
    {
        std::lock_guard lock(mutex_);
        status_.progress = position;
    }
    view_.SetProgressPosition(position);
}

void BoardRun::SetProgressCaption(std::string_view caption) {
    {
        std::lock_guard lock(mutex_);
        bool downloading = caption == "Downloading:";
        if (downloading && !downloading_) {
            downloadStarted_ = Clock::now();
        } else if (!downloading && downloading_) {
            // The download's rate is kept as it was when the download ended.
            double seconds = std::chrono::duration<double>(Clock::now() - downloadStarted_).count();
            status_.bytesSent = runner_->Snapshot().bytesSent;
            status_.bytesPerSecond = seconds > 0 ? static_cast<double>(status_.bytesSent) / seconds : 0;
        }
        downloading_ = downloading;
        status_.caption = std::string(caption);
    }
    view_.SetProgressCaption(caption);
}

void BoardRun::SetProgressFigures(const ProgressFigures& figures) { view_.SetProgressFigures(figures); }

void BoardRun::ResetProgress() { view_.ResetProgress(); }

void BoardRun::Diagnostic(std::string_view text) { view_.Diagnostic(text); }

void BoardRun::Summary(const RunSummary& summary) {
    RunSummary told = summary;
    {
        std::lock_guard lock(mutex_);
        tryTouchedFlash_ = summary.flashTouched;
        told.flashTouched = anyTryTouchedFlash_ || summary.flashTouched;
        anyTryTouchedFlash_ = told.flashTouched;
    }
    view_.Summary(told);
}

void BoardRun::RunEnded(bool success) { view_.RunEnded(success); }

}  // namespace sealbench
