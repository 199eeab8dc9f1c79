#include "download/board/board_row.h"

#include <algorithm>
#include <cstdio>

namespace sealbench {
namespace {

std::string PhaseText(const BoardStatus& status) {
    switch (status.state) {
        case BoardState::Waiting:
            return "waiting";
        case BoardState::Opening:
            return "opening";
        case BoardState::Running:
            // Before the first caption the run initialises the memory.
            return status.caption.empty() ? "Memory init" : status.caption;
        case BoardState::Succeeded:
            return "done";
        case BoardState::Stopped:
            return "stopped";
        default:
            return "failed";
    }
}

}  // namespace

std::string RateText(double bytesPerSecond) {
    if (bytesPerSecond <= 0) return {};
    char text[32];
    if (bytesPerSecond >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    return text;
}

BoardRow RowOf(const BoardStatus& status) {
    BoardRow row;
    if (status.state == BoardState::Succeeded)
        row.bar = BoardRow::kBarRange;
    else if (status.progressMax > 0)
        row.bar = static_cast<int>(std::min<int64_t>(status.progress, status.progressMax) * BoardRow::kBarRange /
                                   status.progressMax);
    row.phase = PhaseText(status);
    if (status.bytesSent > 0) row.bytes = std::to_string(status.bytesSent);
    row.rate = RateText(status.bytesPerSecond);
    if (status.state == BoardState::Succeeded) {
        row.result = "OK";
    } else if (BoardEnded(status.state)) {
        row.result = "FAILED - " + status.reason;
        row.failed = true;
    }
    return row;
}

void BoardLog::Add(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.empty()) return;
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
}

std::vector<std::string> BoardLog::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string BoardLog::Text() const {
    std::string text;
    for (const std::string& line : Lines()) text += (text.empty() ? "" : "\n") + line;
    return text;
}

}  // namespace sealbench
