#include "download/board/failure_reason.h"

namespace sealbench {
namespace {

constexpr std::string_view kWorkerError = "Error!!- Reason: ";
constexpr std::string_view kCheckError = "Error! - ";

}  // namespace

void FailureReason::Note(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with(kWorkerError)) {
        lastError_ = line.substr(kWorkerError.size());
    } else if (line.starts_with(kCheckError)) {
        lastError_ = line.substr(kCheckError.size());
    }
    lastLine_ = line;
}

void FailureReason::Clear() {
    lastLine_.clear();
    lastError_.clear();
}

}  // namespace sealbench
