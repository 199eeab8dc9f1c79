#include "station/slot_board.h"

#include "download/board/open_board.h"
#include "download/run/runner.h"
#include "download/run/session.h"

namespace sealbench {
namespace {

constexpr auto kRunPoll = std::chrono::milliseconds(100);

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

BoardAddress AddressOf(const SlotPlace& place) {
    return place.IsUsb() ? UsbBoard(place.text) : SerialBoard(place.text);
}

class Verdicts {
public:
    Verdicts(BoardStages& stages, std::stop_token stop, std::string identity)
        : stages_(stages), stop_(std::move(stop)) {
        verdict_.identity = std::move(identity);
    }
    // The board failed at a step: the step's words, unless a stop was the cause.
    BoardVerdict Failed(const std::string& reason) {
        stages_.Finish();
        verdict_.ok = false;
        verdict_.reason = stop_.stop_requested() ? std::string(kStoppedReason) : OneLine(reason);
        stages_.Note("Station: FAILED - " + verdict_.reason);
        return verdict_;
    }
    BoardVerdict Passed() {
        stages_.Finish();
        verdict_.ok = true;
        return verdict_;
    }
    void SetIdentity(std::string identity) { verdict_.identity = std::move(identity); }
    const std::string& Identity() const { return verdict_.identity; }

private:
    BoardStages& stages_;
    std::stop_token stop_;
    BoardVerdict verdict_;
};

// The run core's FLASHING run on the open link; true when the board's answers proved it.
bool Flash(const SlotJob& job, bootwire::Link& link, BoardStages& stages, std::stop_token stop) {
    Session session;  // each board's log starts with its banner
    Runner runner(stages, session);
    // Execute runs the memory initialisation on this thread; a stop must reach it there too.
    std::stop_callback onStop(stop, [&runner] { runner.Stop(); });
    if (job.memoryInit) stages.Enter("Memory init");
    if (stop.stop_requested() || !runner.Execute(job.planned, BoardLink{&link, job.place.IsUsb(), {}})) {
        return false;
    }
    while (!runner.WaitIdle(kRunPoll)) {
        if (stop.stop_requested()) runner.Stop();  // a stop that came while the run was starting
    }
    return runner.LastRunSucceeded();
}

}  // namespace

BoardVerdict RunSlotBoard(const SlotJob& job, const BoardSeen& seen, BoardStages& stages, const StageReport& report,
                          std::stop_token stop) {
    Verdicts verdicts(stages, stop, ChooseIdentity({}, seen.usbSerial, job.place.text));
    auto stage = [&](SlotStage step) { report(step, verdicts.Identity()); };
    const bool serial = !job.place.IsUsb();

    stage(SlotStage::Opening);
    stages.Enter("Open");
    Result<OpenedBoard> opened = OpenBoard(AddressOf(job.place), job.planned.processor);
    if (!opened.Ok()) {
        const std::string& detail = opened.outcome.detail;
        if (!detail.empty()) stages.Note(detail);
        return verdicts.Failed(opened.outcome.message +
                               (detail.empty() ? "" : ": " + detail.substr(0, detail.find('\n'))));
    }
    if (!opened.value.notice.empty()) stages.Note(opened.value.notice);
    bootwire::Link& link = *opened.value.link;
    link.SetStopToken(stop);

    if (serial && !job.resetSequence.empty()) {
        stage(SlotStage::Reset);
        stages.Enter("Reset sequence");
        Outcome played = PlayControlSequence(link, job.resetSequence, stop);
        if (!played.Ok()) return verdicts.Failed("--reset-sequence: " + played.message);
    }
    if (job.identity) {
        stage(SlotStage::Identity);
        stages.Enter("Identity");
        Result<std::string> identity = ReadIdentity(link, *job.identity);
        if (!identity.Ok()) return verdicts.Failed(identity.outcome.message);
        verdicts.SetIdentity(ChooseIdentity(identity.value, seen.usbSerial, job.place.text));
        stages.Note("Identity: " + identity.value);
    }

    stage(SlotStage::Flashing);
    link.SetStopToken({});  // the runner arms its own
    const bool flashed = Flash(job, link, stages, stop);
    // A run that succeeded was proved by the board's answers, stop or not.
    if (!flashed) return verdicts.Failed(stages.Reason());

    if (serial && !job.afterSequence.empty()) {
        stage(SlotStage::After);
        stages.Enter("After sequence");
        link.SetStopToken(stop);
        Outcome played = PlayControlSequence(link, job.afterSequence, stop);
        if (!played.Ok()) return verdicts.Failed("--after-sequence: " + played.message);
    }
    return verdicts.Passed();
}

}  // namespace sealbench
