// What a station keeps of each board it ran: which slot, which board (its
// identity), which image, how it ended and how long each stage took. One record is
// one JSON object on one line of the --record file (RecordLine), one testcase of
// the --junit report, and one sample of the line's figures.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace sealbench {

struct StageTime {
    std::string name;  // "Downloading", "Flash Erase"...
    double seconds = 0;
};

struct BoardRecord {
    std::string slot;
    std::string identity;
    std::string imageSha256;
    uint64_t bytes = 0;  // the image's size
    bool ok = false;
    std::string reason;  // why it failed; empty when ok
    std::chrono::system_clock::time_point started;
    double seconds = 0;  // from the board's arrival to its end
    std::vector<StageTime> stages;
    std::string toolVersion;
};

// One JSON object without a line feed: "slot", "identity", "image_sha256",
// "bytes", "result" ("OK" or "FAILED"), "reason", "started" (ISO 8601 UTC),
// "seconds", "stages" (seconds by stage name, in the order they ran) and
// "tool_version".
std::string RecordLine(const BoardRecord& record);

}  // namespace sealbench
