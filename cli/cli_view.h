// The download page's controls for a terminal: status-log lines on stdout, the
// progress bar (or plain progress lines) and the library's diagnostics on stderr.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "download/run_view.h"

namespace sealbench::cli {

enum class ProgressMode { None, Plain, Bar };

// "auto" (a bar when stderr is a terminal, nothing otherwise), "plain" or "none".
ProgressMode ProgressModeOf(const std::string& text);

class CliView : public RunView {
public:
    explicit CliView(ProgressMode mode) : mode_(mode) {}

    void AppendLog(std::string_view line, int lineCount) override;
    void SetProgressRange(int64_t minimum, int64_t maximum) override;
    void SetProgressPosition(int64_t position) override;
    void SetProgressCaption(std::string_view caption) override;
    void Diagnostic(std::string_view text) override;
    void RunEnded(bool success) override;

private:
    void ClearBar();
    void DrawBar();

    std::mutex mutex_;
    ProgressMode mode_;
    std::string caption_;
    int64_t minimum_ = 0;
    int64_t maximum_ = 0;
    int64_t position_ = 0;
    int lastTenth_ = -1;
    bool drawn_ = false;
};

}  // namespace sealbench::cli
