#include "download/run/progress_figures.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

namespace sealbench {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

// A rate taken over less than this says more about the scheduler than the link.
constexpr milliseconds kRateSettles{500};

std::string Printf(const char* format, auto... values) {
    char text[128];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

double Seconds(milliseconds duration) { return static_cast<double>(duration.count()) / 1000.0; }

}  // namespace

int ProgressFigures::Percent() const {
    if (finished) {
        return 100;
    }
    if (total == 0) {
        return 0;
    }
    return static_cast<int>(std::min<uint64_t>(done, total) * 100 / total);
}

void RateMeter::Start(std::string caption, uint64_t total, ProgressClock::time_point now) {
    caption_ = std::move(caption);
    total_ = total;
    done_ = 0;
    started_ = true;
    finished_ = false;
    start_ = now;
    end_ = now;
}

void RateMeter::Update(uint64_t done, ProgressClock::time_point now) {
    if (finished_) {
        return;
    }
    done_ = std::max(done_, total_ > 0 ? std::min(done, total_) : done);
    end_ = now;
}

void RateMeter::Finish(ProgressClock::time_point now) {
    if (finished_) {
        return;
    }
    done_ = std::max(done_, total_);
    end_ = now;
    finished_ = true;
}

ProgressFigures RateMeter::Figures(ProgressClock::time_point runStart, ProgressClock::time_point now) const {
    ProgressFigures f;
    f.caption = caption_;
    f.done = done_;
    f.total = total_;
    f.finished = finished_;
    ProgressClock::time_point until = finished_ ? end_ : now;
    f.phaseElapsed = duration_cast<milliseconds>(until - start_);
    f.runElapsed = duration_cast<milliseconds>(until - runStart);
    if (f.phaseElapsed >= kRateSettles && done_ > 0) {
        f.rate = static_cast<double>(done_) / Seconds(f.phaseElapsed);
        if (!finished_ && total_ > done_) {
            f.left = std::chrono::seconds(static_cast<int64_t>(static_cast<double>(total_ - done_) / f.rate + 0.5));
        }
    }
    return f;
}

std::string FormatBytes(uint64_t bytes) {
    if (bytes < 1024) {
        return Printf("%" PRIu64 " B", bytes);
    }
    double kib = static_cast<double>(bytes) / 1024.0;
    if (kib < 1024) {
        return Printf(kib < 10 ? "%.1f KiB" : "%.0f KiB", kib);
    }
    double mib = kib / 1024.0;
    return Printf(mib < 10 ? "%.2f MiB" : "%.1f MiB", mib);
}

std::string FormatDuration(milliseconds duration) {
    int64_t seconds = std::max<int64_t>(0, duration.count() / 1000);
    if (seconds >= 3600) {
        return Printf("%" PRId64 ":%02" PRId64 ":%02" PRId64, seconds / 3600, seconds / 60 % 60, seconds % 60);
    }
    return Printf("%" PRId64 ":%02" PRId64, seconds / 60, seconds % 60);
}

std::string FormatRate(double bytesPerSecond) {
    return FormatBytes(static_cast<uint64_t>(bytesPerSecond + 0.5)) + "/s";
}

std::string FiguresText(const ProgressFigures& f, size_t width) {
    struct Part {
        std::string text;
        int keep;  // the part with the lowest value goes first when the width is short
    };
    std::vector<Part> parts;
    if (!f.Counted()) {
        parts.push_back({FormatDuration(f.phaseElapsed), 3});
    } else if (f.finished) {
        parts.push_back({FormatBytes(f.total) + " in " + FormatDuration(f.phaseElapsed), 3});
        if (f.rate > 0) {
            parts.push_back({FormatRate(f.rate), 1});
        }
    } else {
        parts.push_back({FormatBytes(f.done) + " / " + FormatBytes(f.total), 3});
        parts.push_back({f.rate > 0 ? FormatRate(f.rate) : std::string("--/s"), 1});
        parts.push_back({(f.left ? FormatDuration(*f.left) : std::string("--:--")) + " left", 2});
        parts.push_back({FormatDuration(f.phaseElapsed) + " spent", 0});
    }
    while (true) {
        std::string text;
        for (const Part& part : parts) {
            text += text.empty() ? part.text : "  " + part.text;
        }
        if (width == 0 || text.size() <= width) {
            return text;
        }
        if (parts.size() <= 1) {
            return {};
        }
        parts.erase(
            std::min_element(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.keep < b.keep; }));
    }
}

std::string SummaryText(const RunSummary& s) {
    double seconds = Seconds(s.elapsed);
    std::string where = s.target + (s.addressIsOffset ? " at offset " : " at ") + Printf("0x%x", s.address);
    if (!s.success) {
        const std::string done = s.streamed ? Printf("%" PRIu64 " of %" PRIu64 " image bytes programmed",
                                                     std::min(s.bytesProgrammed, s.imageBytes), s.imageBytes)
                                            : Printf("%" PRIu64 " of %" PRIu64 " bytes sent",
                                                     std::min(s.bytesSent, s.bytesToSend), s.bytesToSend);
        return "Failed after " + FormatDuration(s.elapsed) + ": " + done +
               (s.flashTouched ? "; the flash may hold part of the image" : "");
    }
    const std::string verb = !s.verb.empty() ? s.verb : s.flashing ? "Flashed" : "Downloaded";
    const std::string preposition = !s.preposition.empty() ? s.preposition : s.flashing ? "to" : "into";
    std::string text = verb + " " + FormatBytes(s.imageBytes) + Printf(" (%" PRIu64 " bytes) ", s.imageBytes) +
                       preposition + " " + where + " in " + FormatDuration(s.elapsed);
    if (seconds > 0 && s.imageBytes > 0) {
        text += " (" + FormatRate(static_cast<double>(s.imageBytes) / seconds) + ")";
    }
    if (!s.verified.empty()) {
        text += "; " + s.verified;
    }
    if (s.blocks > 0 && s.flashing) {
        text += Printf("; %u of %u blocks already in flash, skipped", s.blocksSkipped, s.blocks);
    }
    return text;
}

}  // namespace sealbench
