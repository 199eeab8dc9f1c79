// The few words a front end keeps for the whole program run and hands to every run
// it starts: whether the version banner is still to be shown, the status log's line
// counter, and whether a FLASHING download went out (the USB device then has to be
// enumerated again). The window owns one; each sealbench-cli run owns one; tests
// make their own.
#pragma once

#include <atomic>
#include <string_view>

namespace sealbench {

class RunView;

struct Session {
    std::atomic<bool> bannerPending{true};
    std::atomic<int> logLines{0};
    std::atomic<bool> flashingDownloadDone{false};
};

// Appends one line to the page's status log and counts it.
void AppendLog(RunView& view, Session& session, std::string_view line);

}  // namespace sealbench
