// Why a run failed, in the words of its status log: the text of its last error line
// ("Error!!- Reason: %s" from the worker, "Error! - %s" from the checks before it),
// else its last line. A board of several and a station's slot say it after
// "FAILED - ". Not locked: its owner keeps it under its own lock.
#pragma once

#include <string>
#include <string_view>

namespace sealbench {

class FailureReason {
public:
    // One status-log line, as the runner gave it (a trailing line feed is dropped).
    void Note(std::string_view line);
    std::string Text() const { return lastError_.empty() ? lastLine_ : lastError_; }
    void Clear();

private:
    std::string lastLine_;
    std::string lastError_;
};

}  // namespace sealbench
