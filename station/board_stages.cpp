#include "station/board_stages.h"

#include <algorithm>

namespace sealbench {
namespace {

// A board's log is a few dozen lines; one that talks without end is cut, not kept whole.
constexpr size_t kMaxLogLines = 200;

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return std::string(text);
}

}  // namespace

void BoardStages::Enter(std::string name) {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    FinishLocked(now);
    stage_ = std::move(name);
    entered_ = now;
    minimum_ = maximum_ = position_ = 0;
}

void BoardStages::Finish() {
    std::lock_guard lock(mutex_);
    FinishLocked(Clock::now());
}

void BoardStages::FinishLocked(Clock::time_point now) {
    if (stage_.empty()) return;
    times_.push_back({stage_, std::chrono::duration<double>(now - entered_).count()});
    stage_.clear();
}

std::vector<StageTime> BoardStages::Times() const {
    std::lock_guard lock(mutex_);
    return times_;
}

std::string BoardStages::Stage() const {
    std::lock_guard lock(mutex_);
    return stage_;
}

double BoardStages::Fraction() const {
    std::lock_guard lock(mutex_);
    const int64_t span = maximum_ - minimum_;
    return span > 0 ? std::clamp(static_cast<double>(position_ - minimum_) / static_cast<double>(span), 0.0, 1.0) : 0.0;
}

bool BoardStages::Counted() const {
    std::lock_guard lock(mutex_);
    return maximum_ > minimum_;
}

std::vector<std::string> BoardStages::Log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::string BoardStages::Reason() const {
    std::lock_guard lock(mutex_);
    return reason_.Text();
}

void BoardStages::AppendLog(std::string_view line, int) {
    std::string text = Trimmed(line);
    if (text.empty()) return;
    std::lock_guard lock(mutex_);
    reason_.Note(text);
    if (log_.size() < kMaxLogLines) log_.push_back(std::move(text));
}

void BoardStages::SetProgressRange(int64_t minimum, int64_t maximum) {
    std::lock_guard lock(mutex_);
    minimum_ = minimum;
    maximum_ = maximum;
}

void BoardStages::SetProgressPosition(int64_t position) {
    std::lock_guard lock(mutex_);
    position_ = position;
}

void BoardStages::SetProgressCaption(std::string_view caption) {
    if (!caption.empty() && caption.back() == ':') caption.remove_suffix(1);
    // The run sets its range before or after the caption; either way a new stage starts at 0.
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    FinishLocked(now);
    stage_ = std::string(caption);
    entered_ = now;
    position_ = minimum_;
}

void BoardStages::Diagnostic(std::string_view text) {
    std::string lines = Trimmed(text);
    std::lock_guard lock(mutex_);
    // What the library says is for the log the window shows, never the failure's reason.
    size_t start = 0;
    while (start < lines.size() && log_.size() < kMaxLogLines) {
        const size_t end = std::min(lines.find('\n', start), lines.size());
        if (end > start) log_.push_back(lines.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace sealbench
