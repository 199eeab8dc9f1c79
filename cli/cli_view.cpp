#include "cli_view.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/terminal.h"
#include "connection.h"
#include "terminal.h"

namespace sealbench::cli {
namespace {

constexpr size_t kCaptionWidth = 16;
constexpr size_t kWidestBar = 40;
constexpr size_t kNarrowestBar = 10;
// What the figures keep beside the bar ("256 KiB in 0:27  348 KiB/s"), so that the
// bar is as wide on every line of one terminal whatever the figures say.
constexpr size_t kFiguresRoom = 28;

}  // namespace

ProgressMode ProgressModeOf(const std::string& text) {
    if (text == "plain") return ProgressMode::Plain;
    if (text == "none") return ProgressMode::None;
    return StderrIsTerminal() ? ProgressMode::Bar : ProgressMode::None;
}

size_t TerminalColumns() { return static_cast<size_t>(StderrColumns()); }

std::string BarLine(std::string_view caption, double fraction, const ProgressFigures* figures, size_t columns) {
    size_t width = columns > 1 ? columns - 1 : 0;
    std::string head(caption);
    head.resize(std::max(head.size(), kCaptionWidth), ' ');
    bool counted = figures != nullptr && figures->Counted();
    char percent[8] = "     ";
    if (counted || (figures != nullptr && figures->finished)) {
        std::snprintf(percent, sizeof percent, " %3d%%", figures->Percent());
    }
    size_t fixed = head.size() + 3 + 5;  // " [" "]" and the per cent
    if (width < fixed + kNarrowestBar) {
        // Too narrow for a bar: the caption and the per cent, cut to fit.
        std::string line = std::string(caption) + percent;
        line.resize(std::min(line.size(), width));
        return line;
    }
    // The bar's width follows the terminal alone; the figures take what is left.
    size_t spare = width - fixed;
    size_t barWidth = std::clamp(spare > kFiguresRoom + 2 ? spare - kFiguresRoom - 2 : 0, kNarrowestBar, kWidestBar);
    std::string text;
    if (figures != nullptr && spare > barWidth + 2) {
        text = FiguresText(*figures, spare - barWidth - 2);
    }
    fraction = std::clamp(fraction, 0.0, 1.0);
    auto filled = static_cast<size_t>(fraction * static_cast<double>(barWidth));
    std::string bar(filled, '#');
    bar.resize(barWidth, '.');
    std::string line = head + " [" + bar + "]" + percent;
    if (!text.empty()) {
        line += "  " + text;
    }
    return line;
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
    DrawBar();
}

void CliView::SetProgressPosition(int64_t position) {
    std::lock_guard lock(mutex_);
    position_ = position;
    DrawBar();
}

void CliView::SetProgressCaption(std::string_view caption) {
    std::lock_guard lock(mutex_);
    caption_ = caption;
    DrawBar();
}

void CliView::SetProgressFigures(const ProgressFigures& figures) {
    std::lock_guard lock(mutex_);
    figures_ = figures;
    if (mode_ == ProgressMode::Plain) {
        PrintPlain(figures);
        return;
    }
    DrawBar();
    if (mode_ == ProgressMode::Bar && figures.finished && drawn_ && figures.caption == caption_) {
        // A stage that is over keeps its line: what it moved and how long it took.
        std::fputc('\n', stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
}

void CliView::PrintPlain(const ProgressFigures& figures) {
    if (figures.caption != plainCaption_) {
        plainCaption_ = figures.caption;
        lastTenth_ = -1;
    }
    // Tenths only grow within a stage, and only a stage that is over shows 100 %:
    // all bytes sent is not yet an answer. Nor is it 90 %: the stage's next line is
    // its end, 100 % or the error.
    if (!figures.finished && figures.Counted() && figures.done >= figures.total) {
        return;
    }
    int tenth = figures.finished ? 10 : std::min(figures.Percent() / 10, 9);
    if (tenth <= lastTenth_) {
        return;
    }
    lastTenth_ = tenth;
    std::string text = FiguresText(figures);
    std::fprintf(stderr, "%s %d%%%s%s\n", figures.caption.c_str(), tenth * 10, text.empty() ? "" : "  ", text.c_str());
    std::fflush(stderr);
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

void CliView::Summary(const RunSummary& summary) {
    std::lock_guard lock(mutex_);
    summary_ = summary;
}

void CliView::RunEnded(bool) {
    std::lock_guard lock(mutex_);
    ClearBar();
    drawn_ = false;
    mode_ = mode_ == ProgressMode::Bar ? ProgressMode::None : mode_;
    if (summary_) {
        std::fprintf(stderr, "%s\n", SummaryText(*summary_).c_str());
        std::fflush(stderr);
        summary_.reset();
    }
}

void CliView::ClearBar() {
    if (mode_ == ProgressMode::Bar && drawn_) {
        std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }
}

void CliView::DrawBar() {
    if (mode_ != ProgressMode::Bar || caption_.empty()) {
        return;
    }
    int64_t span = maximum_ - minimum_;
    double fraction = span > 0 ? static_cast<double>(position_ - minimum_) / static_cast<double>(span) : 0.0;
    const ProgressFigures* figures = figures_ && figures_->caption == caption_ ? &*figures_ : nullptr;
    std::string line = BarLine(caption_, fraction, figures, TerminalColumns());
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace sealbench::cli
