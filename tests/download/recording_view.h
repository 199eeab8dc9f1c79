// A RunView that keeps everything a run shows, for the tests to look at.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "download/run/run_view.h"

namespace sealtest {

class RecordingView : public sealbench::RunView {
public:
    void AppendLog(std::string_view line, int lineCount) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
        counts_.push_back(lineCount);
    }
    void SetProgressRange(int64_t minimum, int64_t maximum) override {
        std::lock_guard lock(mutex_);
        ranges_.emplace_back(minimum, maximum);
    }
    void SetProgressPosition(int64_t position) override {
        std::lock_guard lock(mutex_);
        positions_.push_back(position);
    }
    void SetProgressCaption(std::string_view caption) override {
        std::lock_guard lock(mutex_);
        captions_.emplace_back(caption);
    }
    void SetProgressFigures(const sealbench::ProgressFigures& figures) override {
        std::lock_guard lock(mutex_);
        figures_.push_back(figures);
    }
    void ResetProgress() override {
        std::lock_guard lock(mutex_);
        ++resets_;
    }
    void Summary(const sealbench::RunSummary& summary) override {
        std::lock_guard lock(mutex_);
        summaries_.push_back(summary);
    }
    void Diagnostic(std::string_view text) override {
        std::lock_guard lock(mutex_);
        diagnostics_.emplace_back(text);
    }
    void RunEnded(bool success) override {
        std::lock_guard lock(mutex_);
        ended_.push_back(success);
    }

    std::vector<std::string> lines() { return Copy(lines_); }
    std::vector<int> counts() { return Copy(counts_); }
    std::vector<std::pair<int64_t, int64_t>> ranges() { return Copy(ranges_); }
    std::vector<int64_t> positions() { return Copy(positions_); }
    std::vector<std::string> captions() { return Copy(captions_); }
    std::vector<std::string> diagnostics() { return Copy(diagnostics_); }
    std::vector<bool> ended() { return Copy(ended_); }
    std::vector<sealbench::ProgressFigures> figures() { return Copy(figures_); }
    std::vector<sealbench::RunSummary> summaries() { return Copy(summaries_); }
    int resets() { return Copy(resets_); }

private:
    template <typename T>
    T Copy(const T& value) {
        std::lock_guard lock(mutex_);
        return value;
    }

    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<int> counts_;
    std::vector<std::pair<int64_t, int64_t>> ranges_;
    std::vector<int64_t> positions_;
    std::vector<std::string> captions_;
    std::vector<std::string> diagnostics_;
    std::vector<bool> ended_;
    std::vector<sealbench::ProgressFigures> figures_;
    std::vector<sealbench::RunSummary> summaries_;
    int resets_ = 0;
};

}  // namespace sealtest
