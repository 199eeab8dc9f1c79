#include "station/control_sequence.h"

#include <condition_variable>
#include <mutex>

namespace sealbench {

namespace {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// "2 \"X5\"": which step, as the user counts them.
std::string StepName(size_t index, std::string_view text) {
    return "step " + std::to_string(index + 1) + " " + Quoted(text);
}

Outcome BadStep(std::string_view sequence, size_t index, std::string_view step, const std::string& why) {
    return Outcome::Failure(FailureKind::Input,
                            "bad " + StepName(index, step) + " in the sequence " + Quoted(sequence) + ": " + why);
}

}  // namespace

Result<ControlSequence> ParseControlSequence(std::string_view text) {
    Result<ControlSequence> result;
    if (text.empty()) {
        result.outcome = Outcome::Failure(FailureKind::Input,
                                          "the sequence is empty: give steps joined by | such as D0|R1|W100|D1|R0");
        return result;
    }
    ControlSequence steps;
    std::chrono::milliseconds waits{0};
    size_t index = 0;
    for (size_t start = 0;; ++index) {
        const size_t bar = text.find('|', start);
        const std::string_view step = text.substr(start, bar == std::string_view::npos ? text.npos : bar - start);
        if (index >= kMaxControlSteps) {
            result.outcome = Outcome::Failure(FailureKind::Input, "the sequence " + Quoted(text) + " has more than " +
                                                                      std::to_string(kMaxControlSteps) + " steps");
            return result;
        }
        ControlStep parsed;
        parsed.text = std::string(step);
        const char kind = step.empty() ? '\0' : step[0];
        if ((kind == 'D' || kind == 'R' || kind == 'd' || kind == 'r') && step.size() == 2 &&
            (step[1] == '0' || step[1] == '1')) {
            parsed.kind = kind == 'D' || kind == 'd' ? ControlStep::Kind::Dtr : ControlStep::Kind::Rts;
            parsed.on = step[1] == '1';
        } else if (kind == 'W' || kind == 'w') {
            const std::string_view digits = step.substr(1);
            long long ms = 0;
            const bool number = !digits.empty() && digits.size() <= 6 &&
                                digits.find_first_not_of("0123456789") == std::string_view::npos;
            if (number) {
                for (char c : digits) ms = ms * 10 + (c - '0');
            }
            if (!number || ms > kMaxControlWait.count()) {
                result.outcome = BadStep(
                    text, index, step,
                    "a wait is W followed by 0 to " + std::to_string(kMaxControlWait.count()) + " milliseconds");
                return result;
            }
            parsed.kind = ControlStep::Kind::Wait;
            parsed.wait = std::chrono::milliseconds(ms);
            waits += parsed.wait;
        } else {
            result.outcome = BadStep(text, index, step, "a step is D0, D1 (DTR), R0, R1 (RTS) or W<ms> (a wait)");
            return result;
        }
        steps.push_back(std::move(parsed));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    if (waits > kMaxSequenceWait) {
        result.outcome = Outcome::Failure(FailureKind::Input,
                                          "the sequence " + Quoted(text) + " waits " + std::to_string(waits.count()) +
                                              " ms in all; at most " + std::to_string(kMaxSequenceWait.count()));
        return result;
    }
    result.value = std::move(steps);
    return result;
}

Outcome PlayControlSequence(bootwire::Link& link, const ControlSequence& steps, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    for (size_t i = 0; i < steps.size(); ++i) {
        const ControlStep& step = steps[i];
        if (stop.stop_requested()) {
            return Outcome::Failure(FailureKind::Stopped, "stopped before " + StepName(i, step.text));
        }
        if (step.kind == ControlStep::Kind::Wait) {
            std::unique_lock lock(mutex);
            if (wake.wait_for(lock, stop, step.wait, [] { return false; }) || stop.stop_requested()) {
                return Outcome::Failure(FailureKind::Stopped, "stopped during " + StepName(i, step.text));
            }
            continue;
        }
        const auto line = step.kind == ControlStep::Kind::Dtr ? bootwire::ControlLine::Dtr : bootwire::ControlLine::Rts;
        if (bootwire::Error e = link.SetControlLine(line, step.on); e != bootwire::Error::Ok) {
            return Outcome::Failure(FailureKind::Target,
                                    StepName(i, step.text) + " of the sequence failed: " + link.ErrorDetail(), {},
                                    bootwire::ErrorName(e));
        }
    }
    return Outcome::Success();
}

}  // namespace sealbench
