// What a toolkit-free core reports when its work is done: success, or a failure of
// one kind with the message the user is shown and what lies behind it. The page, the
// command line and the run's log each decide where the texts go; the core only says
// what happened.
#pragma once

#include <string>
#include <utility>

namespace sealbench {

enum class FailureKind {
    None,     // it worked
    Input,    // what the user gave was refused: a field, an option, a file's contents
    File,     // a file could not be read or written
    Target,   // the board did not take or answer what was sent
    Tool,     // an outside program could not run or failed
    Stopped,  // the work was abandoned on request
};

struct Outcome {
    FailureKind kind = FailureKind::None;
    std::string message;     // the system's own text: shown in a box, logged, or printed
    std::string detail;      // more words for the user (a further log line), empty when none
    std::string diagnostic;  // what the operating system or the library said, for stderr or a tooltip

    bool Ok() const { return kind == FailureKind::None; }

    static Outcome Success(std::string message = {}) { return {FailureKind::None, std::move(message), {}, {}}; }
    static Outcome Failure(FailureKind kind, std::string message, std::string detail = {},
                           std::string diagnostic = {}) {
        return {kind, std::move(message), std::move(detail), std::move(diagnostic)};
    }
};

// An Outcome that carries a value on success.
template <typename T>
struct Result {
    Outcome outcome;
    T value{};

    bool Ok() const { return outcome.Ok(); }
};

}  // namespace sealbench
