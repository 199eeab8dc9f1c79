#include "board_views.h"

#include <algorithm>
#include <cstdio>

#include "terminal.h"

namespace sealbench::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
constexpr int kBarWidth = 20;

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return std::string(text);
}

std::string Format(const char* format, double value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Rate(double bytesPerSecond) {
    if (bytesPerSecond >= 1024.0 * 1024.0) return Format("%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    return Format("%.1f KiB/s", bytesPerSecond / 1024.0);
}

std::string Verdict(const BoardStatus& status) {
    switch (status.state) {
        case BoardState::Succeeded:
            return "OK";
        case BoardState::Stopped:
        case BoardState::Failed:
            return "FAILED - " + (status.reason.empty() ? std::string("no reason given") : status.reason) +
                   (status.earlierTryTouchedFlash ? "; the flash may hold part of the image" : "");
        default:
            return "running";
    }
}

}  // namespace

// What board `index_` reports, passed to the console with the board's number.
class BoardsConsole::BoardView : public RunView {
public:
    BoardView(BoardsConsole& console, size_t index) : console_(console), index_(index) {}

    void AppendLog(std::string_view line, int) override { console_.Log(index_, line); }
    void SetProgressRange(int64_t minimum, int64_t maximum) override {
        std::lock_guard lock(mutex_);
        minimum_ = minimum;
        maximum_ = maximum;
        lastTenth_ = -1;
    }
    void SetProgressPosition(int64_t position) override {
        std::string caption;
        int tenth = 0;
        {
            std::lock_guard lock(mutex_);
            int64_t span = maximum_ - minimum_;
            tenth = span > 0 ? static_cast<int>(std::clamp<int64_t>((position - minimum_) * 10 / span, 0, 10)) : 0;
            if (tenth == lastTenth_) return;
            lastTenth_ = tenth;
            caption = caption_;
        }
        console_.PlainProgress(index_, caption, tenth * 10);
    }
    void SetProgressCaption(std::string_view caption) override {
        std::lock_guard lock(mutex_);
        caption_ = caption;
        lastTenth_ = -1;
    }
    void Diagnostic(std::string_view text) override { console_.Diagnostic(index_, text); }

private:
    BoardsConsole& console_;
    size_t index_;
    std::mutex mutex_;
    std::string caption_;
    int64_t minimum_ = 0;
    int64_t maximum_ = 0;
    int lastTenth_ = -1;
};

BoardsConsole::BoardsConsole(ProgressMode mode, std::vector<std::string> names)
    : mode_(mode), names_(std::move(names)), clearForLog_(StdoutIsTerminal()) {
    for (size_t i = 0; i < names_.size(); ++i) views_.push_back(std::make_unique<BoardView>(*this, i));
}

BoardsConsole::~BoardsConsole() { Finish(); }

RunView& BoardsConsole::ViewOf(size_t index) { return *views_.at(index); }

void BoardsConsole::Follow(std::vector<const BoardRun*> boards) {
    boards_ = std::move(boards);
    if (mode_ == ProgressMode::Bar) ticker_ = std::thread([this] { Ticker(); });
}

void BoardsConsole::Finish() {
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
    std::lock_guard lock(mutex_);
    ClearBlock();
    std::fflush(stderr);
}

void BoardsConsole::Ticker() {
    std::unique_lock lock(mutex_);
    while (!finishing_) {
        ClearBlock();
        DrawBlock();
        wake_.wait_for(lock, kRedrawInterval, [this] { return finishing_; });
    }
}

void BoardsConsole::Note(const std::string& text) {
    std::lock_guard lock(mutex_);
    ClearBlock();
    std::fprintf(stderr, "%s\n", text.c_str());
    DrawBlock();
}

void BoardsConsole::Log(size_t index, std::string_view line) {
    std::lock_guard lock(mutex_);
    if (clearForLog_) ClearBlock();
    std::string text = "[" + names_[index] + "] " + Trimmed(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    if (clearForLog_) DrawBlock();
}

void BoardsConsole::Diagnostic(size_t index, std::string_view text) {
    if (text.empty()) return;
    std::lock_guard lock(mutex_);
    ClearBlock();
    std::fprintf(stderr, "[%s] %s\n", names_[index].c_str(), Trimmed(text).c_str());
    DrawBlock();
}

void BoardsConsole::PlainProgress(size_t index, const std::string& caption, int percent) {
    if (mode_ != ProgressMode::Plain || caption.empty()) return;
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "[%s] %s %d%%\n", names_[index].c_str(), caption.c_str(), percent);
}

void BoardsConsole::ClearBlock() {
    if (drawnLines_ == 0) return;
    // Up to the block's first line, then away with everything below.
    std::fprintf(stderr, "\033[%dA\r\033[J", drawnLines_);
    drawnLines_ = 0;
}

void BoardsConsole::DrawBlock() {
    if (mode_ != ProgressMode::Bar || boards_.empty() || finishing_) return;
    size_t nameWidth = 0;
    for (const std::string& name : names_) nameWidth = std::max(nameWidth, name.size());
    const int columns = StderrColumns();
    std::string block;
    for (size_t i = 0; i < boards_.size(); ++i) {
        block += ProgressLine(names_[i], nameWidth, boards_[i]->Status(), columns) + "\n";
    }
    std::fwrite(block.data(), 1, block.size(), stderr);
    std::fflush(stderr);
    drawnLines_ = static_cast<int>(boards_.size());
}

std::string ProgressLine(const std::string& name, size_t nameWidth, const BoardStatus& status, int columns) {
    std::string line = name;
    line.resize(std::max(nameWidth, name.size()), ' ');
    line += "  ";
    switch (status.state) {
        case BoardState::Waiting:
            line += "waiting";
            break;
        case BoardState::Opening:
            line += "opening";
            break;
        case BoardState::Running: {
            std::string caption = status.caption.empty() ? "Memory init" : status.caption;
            caption.resize(std::max<size_t>(caption.size(), 16), ' ');
            int64_t span = status.progressMax;
            int64_t done = span > 0 ? std::clamp<int64_t>(status.progress, 0, span) : 0;
            int filled = span > 0 ? static_cast<int>(done * kBarWidth / span) : 0;
            std::string bar(static_cast<size_t>(filled), '#');
            bar.resize(kBarWidth, '.');
            line += caption + " [" + bar + "] " + Format("%3.0f%%", span > 0 ? 100.0 * done / span : 0.0);
            if (status.bytesSent > 0) {
                line += "  " + std::to_string(status.bytesSent) + " bytes  " + Rate(status.bytesPerSecond);
            }
            break;
        }
        default:
            line += Verdict(status);
            break;
    }
    if (status.tries > 1) line += "  try " + std::to_string(status.tries);
    // A line that wraps would throw the block's redrawing off.
    size_t limit = static_cast<size_t>(std::max(columns - 1, 10));
    if (line.size() > limit) line.resize(limit);
    return line;
}

std::string SummaryLine(const std::string& name, const BoardStatus& status) { return name + ": " + Verdict(status); }

std::string FiguresLine(const std::string& name, size_t nameWidth, const BoardStatus& status) {
    std::string line = name;
    if (line.size() < nameWidth) line.resize(nameWidth, ' ');
    double seconds = std::chrono::duration<double>(status.elapsed).count();
    std::string verdict = status.state == BoardState::Succeeded ? "OK" : "FAILED";
    verdict.resize(6, ' ');
    line += "  " + verdict + Format("%12.0f bytes", static_cast<double>(status.bytesSent)) +
            Format("  %7.1f s  ", seconds) + std::to_string(status.tries) + (status.tries == 1 ? " try" : " tries");
    return line;
}

}  // namespace sealbench::cli
