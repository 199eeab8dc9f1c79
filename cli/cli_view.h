// The download page's controls for a terminal: status-log lines on stdout, the
// progress bar (or plain progress lines), the run's summary and the library's
// diagnostics on stderr.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "download/run/run_view.h"

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
    void SetProgressFigures(const ProgressFigures& figures) override;
    void Diagnostic(std::string_view text) override;
    void Summary(const RunSummary& summary) override;
    void RunEnded(bool success) override;

private:
    void ClearBar();
    void DrawBar();
    void PrintPlain(const ProgressFigures& figures);

    std::mutex mutex_;
    ProgressMode mode_;
    std::string caption_;
    int64_t minimum_ = 0;
    int64_t maximum_ = 0;
    int64_t position_ = 0;
    std::optional<ProgressFigures> figures_;  // the latest, for the bar's caption only
    std::string plainCaption_;
    int lastTenth_ = -1;
    bool drawn_ = false;
    std::optional<RunSummary> summary_;
};

// The bar's line for a terminal `columns` wide, never wider than columns - 1 so
// that the terminal does not wrap it: caption, bar, per cent and as many figures as fit.
std::string BarLine(std::string_view caption, double fraction, const ProgressFigures* figures, size_t columns);

// Columns of the terminal on stderr (COLUMNS, else 80, when it cannot tell).
size_t TerminalColumns();

}  // namespace sealbench::cli
