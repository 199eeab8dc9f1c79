#include "station/line_figures.h"

#include <algorithm>
#include <cstdio>

namespace sealbench {

namespace {

std::string Fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

void LineFigures::Add(const BoardRecord& record) {
    std::lock_guard lock(mutex_);
    ++counts_.boards;
    if (record.ok) {
        ++counts_.passed;
    } else {
        ++counts_.failed;
        ++reasons_[record.reason.empty() ? std::string("no reason given") : record.reason];
    }
    for (const StageTime& time : record.stages) {
        auto stage = std::find_if(stages_.begin(), stages_.end(), [&](const Stage& s) { return s.name == time.name; });
        if (stage == stages_.end()) stage = stages_.insert(stages_.end(), Stage{time.name});
        ++stage->count;
        stage->total += time.seconds;
        stage->worst = std::max(stage->worst, time.seconds);
    }
}

LineFigures::Counts LineFigures::Totals() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

double LineFigures::UnitsPerHour(std::chrono::duration<double> running) const {
    const Counts counts = Totals();
    return running.count() > 0 ? counts.boards * 3600.0 / running.count() : 0.0;
}

std::string LineFigures::CountsLine(std::chrono::duration<double> running) const {
    const Counts counts = Totals();
    return "boards: " + std::to_string(counts.boards) + ", passed: " + std::to_string(counts.passed) +
           ", failed: " + std::to_string(counts.failed) + ", units per hour: " + Fixed(UnitsPerHour(running), 1);
}

std::vector<std::string> LineFigures::SummaryLines(std::chrono::duration<double> running) const {
    std::vector<std::string> lines;
    std::vector<std::pair<std::string, int>> reasons;
    {
        std::lock_guard lock(mutex_);
        for (const Stage& stage : stages_) {
            lines.push_back(stage.name + ": mean " + Fixed(stage.total / stage.count, 2) + " s, worst " +
                            Fixed(stage.worst, 2) + " s");
        }
        reasons.assign(reasons_.begin(), reasons_.end());
    }
    std::stable_sort(reasons.begin(), reasons.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    for (const auto& [reason, count] : reasons) lines.push_back("failed " + std::to_string(count) + "x: " + reason);
    lines.push_back(CountsLine(running));
    return lines;
}

}  // namespace sealbench
