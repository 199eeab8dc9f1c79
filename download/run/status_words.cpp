#include "download/run/status_words.h"

#include <algorithm>

#include "download/run/run_sequence.h"

namespace sealbench {

StatusWordCheck::StatusWordCheck(bool builtinLibrary, size_t imageSize)
    : builtin_(builtinLibrary), mostProgress_(static_cast<uint32_t>(std::min<size_t>(imageSize >> 10, 0xFFFF))) {}

bool StatusWordCheck::Fits(uint32_t word) {
    if (!builtin_) {
        return true;
    }
    const int state = static_cast<int>(word >> 16);
    const uint32_t progress = word & 0xFFFF;
    if (EndsRun(state)) {
        return progress == 0;
    }
    if (state < kStateErasing || state > kStateVerifying || progress > mostProgress_) {
        return false;
    }
    // Stages only go forward, and within one the count only grows.
    if (state < state_ || (state == state_ && progress < progress_)) {
        return false;
    }
    state_ = state;
    progress_ = progress;
    return true;
}

}  // namespace sealbench
