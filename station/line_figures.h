// The line's figures, live on a status line and at the end of a station's run:
// boards done, passed and failed, units per hour, mean and worst seconds per stage,
// and the failures by reason. Boards are added from the slots' threads.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "station/board_record.h"

namespace sealbench {

class LineFigures {
public:
    void Add(const BoardRecord& record);

    struct Counts {
        int boards = 0;
        int passed = 0;
        int failed = 0;
    };
    Counts Totals() const;
    // Boards done (passed or failed) per hour of the station's running time.
    double UnitsPerHour(std::chrono::duration<double> running) const;

    // "boards: N, passed: P, failed: F, units per hour: U"; the station's last line.
    std::string CountsLine(std::chrono::duration<double> running) const;
    // Each stage's mean and worst ("Flash Program: mean 1.20 s, worst 1.90 s") in the
    // order the stages first ran, then the failures by reason, most frequent first
    // ("failed 2x: the target did not answer"), then CountsLine.
    std::vector<std::string> SummaryLines(std::chrono::duration<double> running) const;

private:
    struct Stage {
        std::string name;
        int count = 0;
        double total = 0;
        double worst = 0;
    };

    mutable std::mutex mutex_;
    Counts counts_;                       // under mutex_
    std::vector<Stage> stages_;           // under mutex_
    std::map<std::string, int> reasons_;  // under mutex_
};

}  // namespace sealbench
