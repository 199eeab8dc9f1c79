// The --junit report: one testsuite for the station's run, one testcase per board
// (named by its identity, classed by its slot), a failure with its reason for each
// board that failed. CI systems read it; it is written whole or not at all.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "common/outcome.h"
#include "station/board_record.h"

namespace sealbench {

struct JunitRun {
    std::string name = "sealbench station";
    std::chrono::system_clock::time_point started;
    double seconds = 0;
    std::string toolVersion;
};

// The report's XML.
std::string JunitXml(const JunitRun& run, const std::vector<BoardRecord>& boards);

// Writes JunitXml to `path` through a temporary file that replaces it only once complete.
Outcome WriteJunitReport(const std::string& path, const JunitRun& run, const std::vector<BoardRecord>& boards);

}  // namespace sealbench
