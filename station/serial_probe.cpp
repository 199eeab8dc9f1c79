#include "station/serial_probe.h"

#include <algorithm>

namespace sealbench {

namespace {

using bootwire::Error;

// Lends an open transport to a link for one question, so that the probe can still
// listen on the line itself before and after it (a link shows only what it asked for).
class LentTransport final : public bootwire::Transport {
public:
    explicit LentTransport(bootwire::Transport& inner) : inner_(inner) {}
    Error Send(const uint8_t* data, size_t n, const bootwire::SendObserver* sent) override {
        return Passed(inner_.Send(data, n, sent));
    }
    Error Receive(uint8_t* data, size_t n, size_t* received) override {
        return Passed(inner_.Receive(data, n, received));
    }
    std::string Describe() const override { return inner_.Describe(); }
    void SetReceiveTimeoutLimit(int milliseconds) override { inner_.SetReceiveTimeoutLimit(milliseconds); }
    Error SetControlLine(bootwire::ControlLine line, bool on) override {
        return Passed(inner_.SetControlLine(line, on));
    }

private:
    Error Passed(Error error) { return error == Error::Ok ? error : Fail(error, inner_.LastDetail()); }
    bootwire::Transport& inner_;
};

// The get-status frame: command 05 05, every other field zero.
constexpr uint8_t kQuestionStart[4] = {0x05, 0x05, 0x00, 0x00};

// Whatever arrives within `quiet`; 0 when the line stayed silent.
size_t Listen(bootwire::Transport& line, std::chrono::milliseconds quiet) {
    uint8_t buffer[64];
    size_t got = 0;
    line.SetReceiveTimeoutLimit(static_cast<int>(std::max<long long>(quiet.count(), 1)));
    line.Receive(buffer, sizeof buffer, &got);
    return got;
}

ProbeVerdict VerdictOfOpen(Error error) {
    switch (error) {
        case Error::NotFound:
        case Error::Gone:
            return ProbeVerdict::Missing;
        case Error::Busy:
            return ProbeVerdict::Busy;
        default:
            return ProbeVerdict::Failed;
    }
}

}  // namespace

bool WordIsConsoleTalk(std::span<const uint8_t, 4> word) {
    if (std::equal(word.begin(), word.end(), kQuestionStart)) return true;
    bool lineEnd = false;
    for (uint8_t b : word) {
        if (b == '\r' || b == '\n') {
            lineEnd = true;
        } else if (b < 0x20 || b > 0x7E) {
            return false;
        }
    }
    return lineEnd;
}

ProbeResult ProbeSerial(const std::string& port, const ProbeOptions& options, std::stop_token stop) {
    Error error = Error::Ok;
    std::string detail;
    std::unique_ptr<bootwire::Transport> line = bootwire::OpenSerial(port, options.lineMode, &error, &detail);
    // A port that refused some line settings (a pty cannot hold parity) can still carry the question.
    if (!line) return {VerdictOfOpen(error), detail};

    bootwire::Link link(std::make_unique<LentTransport>(*line));
    if (!options.beforeProbe.empty()) {
        Outcome played = PlayControlSequence(link, options.beforeProbe, stop);
        if (!played.Ok()) return {ProbeVerdict::Failed, played.message};
    }
    if (stop.stop_requested()) return {ProbeVerdict::Failed, "stopped"};
    if (Listen(*line, options.quiet) > 0)
        return {ProbeVerdict::Console, "the port talks unasked: a console, not a board"};

    line->SetReceiveTimeoutLimit(static_cast<int>(options.answerLimit.count()));
    uint32_t word = 0;
    if (Error e = link.GetStatus(&word); e != Error::Ok) {
        return {e == Error::Gone ? ProbeVerdict::Missing : ProbeVerdict::Silent,
                "no board answers: " + link.ErrorDetail()};
    }
    const uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                              static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
    if (WordIsConsoleTalk(bytes) || Listen(*line, options.quiet) > 0) {
        return {ProbeVerdict::Console, "the port answers with text: a console, not a board"};
    }
    return {ProbeVerdict::Board, "a board answers"};
}

}  // namespace sealbench
