#include "station_console.h"

#include <cstdio>

#include "connection.h"
#include "terminal.h"

namespace sealbench::cli {
namespace {

constexpr size_t kUnlimited = 100000;

std::string Brief(const SlotStatus& slot, bool withPercent) {
    switch (slot.stage) {
        case SlotStage::Empty:
            return "waiting";
        case SlotStage::Opening:
            return "opening";
        case SlotStage::Reset:
            return "reset";
        case SlotStage::Identity:
            return "identity";
        case SlotStage::Flashing:
            if (slot.step.empty()) return "starting";
            return withPercent && slot.counted
                       ? slot.step + " " + std::to_string(static_cast<int>(slot.fraction * 100.0)) + "%"
                       : slot.step;
        case SlotStage::After:
            return "after";
        case SlotStage::Remove:
            return slot.lastOk ? "take out (OK)" : "take out (FAILED)";
        case SlotStage::Closed:
            return "ended";
    }
    return {};
}

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

std::string StationStatusLine(const StationSnapshot& snapshot, bool withPercent, size_t columns) {
    std::string line;
    for (size_t i = 0; i < snapshot.states.size(); ++i) {
        line += std::to_string(i + 1) + " " + Brief(snapshot.states[i], withPercent) + " | ";
    }
    const LineFigures::Counts& t = snapshot.totals;
    line += "boards: " + std::to_string(t.boards) + ", passed: " + std::to_string(t.passed) +
            ", failed: " + std::to_string(t.failed);
    if (withPercent) line += ", units per hour: " + Fixed(snapshot.unitsPerHour);
    if (columns > 1 && line.size() > columns - 1) line.resize(columns - 1);
    return line;
}

void StationConsole::ClearLocked() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void StationConsole::BoardEnded(const BoardRecord&, const std::string& verdictLine) {
    std::lock_guard lock(mutex_);
    ClearLocked();  // the next Show draws it again below the verdict
    LogLine(verdictLine);
}

void StationConsole::Show(const StationSnapshot& snapshot) {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    if (mode_ == ProgressMode::Bar) {
        const std::string line = StationStatusLine(snapshot, true, TerminalColumns());
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
        drawn_ = true;
    } else if (mode_ == ProgressMode::Plain) {
        std::string stages = StationStatusLine(snapshot, false, kUnlimited);
        if (stages == lastPlain_) return;
        lastPlain_ = std::move(stages);
        std::fprintf(stderr, "%s\n", StationStatusLine(snapshot, true, kUnlimited).c_str());
        std::fflush(stderr);
    }
}

void StationConsole::Note(const std::string& text) {
    std::lock_guard lock(mutex_);
    ClearLocked();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void StationConsole::Finish() {
    std::lock_guard lock(mutex_);
    ClearLocked();
    finished_ = true;
}

}  // namespace sealbench::cli
