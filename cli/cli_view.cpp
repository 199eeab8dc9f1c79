#include "cli_view.h"

#include <algorithm>
#include <cstdio>

#include "common/terminal.h"
#include "connection.h"

namespace sealbench::cli {

ProgressMode ProgressModeOf(const std::string& text) {
    if (text == "plain") return ProgressMode::Plain;
    if (text == "none") return ProgressMode::None;
    return StderrIsTerminal() ? ProgressMode::Bar : ProgressMode::None;
}

void CliView::AppendLog(std::string_view line, int) {
    std::lock_guard lock(mutex_);
    ClearBar();
    LogLine(line);
    DrawBar();
}

void CliView::SetProgressRange(int64_t minimum, int64_t maximum) {
    std::lock_guard lock(mutex_);
    minimum_ = minimum;
    maximum_ = maximum;
    lastTenth_ = -1;
    DrawBar();
}

void CliView::SetProgressPosition(int64_t position) {
    std::lock_guard lock(mutex_);
    position_ = position;
    if (mode_ == ProgressMode::Plain) {
        int64_t span = maximum_ - minimum_;
        int tenth = span > 0 ? static_cast<int>((position_ - minimum_) * 10 / span) : 0;
        if (tenth != lastTenth_) {
            lastTenth_ = tenth;
            std::fprintf(stderr, "%s %d%%\n", caption_.c_str(), tenth * 10);
        }
    }
    DrawBar();
}

void CliView::SetProgressCaption(std::string_view caption) {
    std::lock_guard lock(mutex_);
    caption_ = caption;
    lastTenth_ = -1;
    DrawBar();
}

void CliView::Diagnostic(std::string_view text) {
    if (text.empty()) {
        return;
    }
    std::lock_guard lock(mutex_);
    ClearBar();
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    DrawBar();
}

void CliView::RunEnded(bool) {
    std::lock_guard lock(mutex_);
    ClearBar();
    drawn_ = false;
    mode_ = mode_ == ProgressMode::Bar ? ProgressMode::None : mode_;
}

void CliView::ClearBar() {
    if (mode_ == ProgressMode::Bar && drawn_) {
        std::fputs("\r\033[K", stderr);
    }
}

void CliView::DrawBar() {
    if (mode_ != ProgressMode::Bar || caption_.empty()) {
        return;
    }
    constexpr int kWidth = 40;
    int64_t span = maximum_ - minimum_;
    int64_t done = span > 0 ? std::clamp<int64_t>(position_ - minimum_, 0, span) : 0;
    int filled = span > 0 ? static_cast<int>(done * kWidth / span) : 0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '.');
    std::fprintf(stderr, "\r\033[K%-16s [%s] %3d%%", caption_.c_str(), bar.c_str(),
                 span > 0 ? static_cast<int>(done * 100 / span) : 0);
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace sealbench::cli
