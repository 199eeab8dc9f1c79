#include "station/station.h"

#include <cstdio>
#include <fstream>

#include "download/plan/run_plan.h"
#include "station/sha256.h"

namespace sealbench {
namespace {

constexpr size_t kDigestChunk = 1 << 16;

bool RunsMemoryInit(const MemoryInitChoice& choice) { return choice.ddr || choice.sdram || !choice.scriptPath.empty(); }

std::string Percent(double fraction) {
    char text[16];
    std::snprintf(text, sizeof text, " %d%%", static_cast<int>(fraction * 100.0 + 0.5));
    return text;
}

// The image's digest and size as a board will get it; the file is read whole once.
Result<std::pair<std::string, uint64_t>> DigestOf(const std::string& path) {
    Result<std::pair<std::string, uint64_t>> result;
    std::ifstream in(path, std::ios::binary);
    Sha256 digest;
    std::vector<char> chunk(kDigestChunk);
    uint64_t size = 0;
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<size_t>(in.gcount());
        digest.Update({reinterpret_cast<const uint8_t*>(chunk.data()), got});
        size += got;
    }
    if (!in.eof()) {
        result.outcome = Outcome::Failure(FailureKind::File, "cannot read the image " + path);
        return result;
    }
    const Sha256::Digest bytes = digest.Finish();
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : bytes) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    result.value = {hex, size};
    return result;
}

}  // namespace

struct Station::Slot {
    SlotJob job;
    std::unique_ptr<PresenceWatcher> watcher;
    mutable std::mutex mutex;
    SlotStatus status;                     // under mutex
    std::shared_ptr<BoardStages> current;  // under mutex: the board in the slot, else the last one
    std::vector<std::string> lastLog;      // under mutex: the status log of the last board that ended
    std::thread thread;
};

std::string VerdictLine(const BoardRecord& record) {
    if (record.ok) return record.slot + ": OK " + record.identity;
    return record.slot + ": FAILED - " + (record.reason.empty() ? std::string("no reason given") : record.reason);
}

std::string StageText(const SlotStatus& slot) {
    switch (slot.stage) {
        case SlotStage::Empty:
            return "waiting for a board";
        case SlotStage::Opening:
            return "opening";
        case SlotStage::Reset:
            return "reset sequence";
        case SlotStage::Identity:
            return "reading the identity";
        case SlotStage::Flashing:
            if (slot.step.empty()) return "starting";
            return slot.counted ? slot.step + Percent(slot.fraction) : slot.step;
        case SlotStage::After:
            return "after sequence";
        case SlotStage::Remove:
            return "done: take the board out";
        case SlotStage::Closed:
            return "ended";
    }
    return {};
}

Result<std::unique_ptr<Station>> Station::Create(StationSettings settings, StationView& view) {
    Result<std::unique_ptr<Station>> result;
    std::vector<PlannedRun> plans;
    for (const SlotPlace& place : settings.places) {
        RunChannel channel{true, place.IsUsb(), place.IsUsb() ? std::string() : place.text};
        PlannedRun planned = PlanRun(settings.run, channel);
        if (!planned.Ok()) {
            const FailureKind kind = planned.step == PlanStep::File ? FailureKind::File : FailureKind::Input;
            result.outcome = Outcome::Failure(kind, planned.RefusalLine(), planned.refusal.detail);
            return result;
        }
        plans.push_back(std::move(planned));
    }
    Result<std::pair<std::string, uint64_t>> digest = DigestOf(settings.run.imagePath);
    if (!digest.Ok()) {
        result.outcome = digest.outcome;
        return result;
    }
    std::error_code error;
    const auto imageTime = std::filesystem::last_write_time(settings.run.imagePath, error);

    std::unique_ptr<Station> station(new Station(std::move(settings), view));
    station->imageSha256_ = digest.value.first;
    station->imageBytes_ = digest.value.second;
    station->imageTime_ = imageTime;
    for (size_t i = 0; i < station->slots_.size(); ++i) station->slots_[i]->job.planned = std::move(plans[i]);
    result.value = std::move(station);
    return result;
}

Station::Station(StationSettings settings, StationView& view) : settings_(std::move(settings)), view_(view) {
    PresenceOptions presence = settings_.presence;
    presence.probe.lineMode = PresetOf(settings_.run.processor).lineMode;
    presence.probe.beforeProbe = settings_.resetSequence;
    // One listing serves every USB slot; it is also what a serial slot's watcher is handed.
    usb_ = std::make_unique<UsbBoards>();
    for (const SlotPlace& place : settings_.places) {
        auto slot = std::make_unique<Slot>();
        slot->job.place = place;
        slot->job.memoryInit = RunsMemoryInit(settings_.run.memoryInit);
        slot->job.identity = settings_.identity;
        slot->job.resetSequence = settings_.resetSequence;
        slot->job.afterSequence = settings_.afterSequence;
        slot->watcher = MakePresenceWatcher(place, presence, *usb_);
        slot->status.place = place.text;
        slots_.push_back(std::move(slot));
    }
}

Station::~Station() {
    Stop();
    for (auto& slot : slots_) {
        if (slot->thread.joinable()) slot->thread.join();
    }
}

void Station::Start() {
    started_ = Clock::now();
    startedWall_ = std::chrono::system_clock::now();
    {
        std::lock_guard lock(mutex_);
        running_ = static_cast<int>(slots_.size());
    }
    for (auto& slot : slots_) {
        slot->thread = std::thread([this, &slot = *slot, stop = stop_.get_token()] { SlotBody(slot, stop); });
    }
}

void Station::Stop() { stop_.request_stop(); }

bool Station::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [this] { return running_ == 0; });
}

bool Station::ClaimBoard() { return settings_.count <= 0 || claimed_.fetch_add(1) < settings_.count; }

std::optional<std::string> Station::ImageChanged() {
    std::error_code sizeError;
    std::error_code timeError;
    const auto size = std::filesystem::file_size(settings_.run.imagePath, sizeError);
    const auto time = std::filesystem::last_write_time(settings_.run.imagePath, timeError);
    {
        std::lock_guard lock(mutex_);
        if (!sizeError && !timeError && size == imageBytes_ && time == imageTime_) return std::nullopt;
    }
    // Written again with the same bytes (a build that rewrites its output) is the same image.
    Result<std::pair<std::string, uint64_t>> digest = DigestOf(settings_.run.imagePath);
    if (digest.Ok() && digest.value.first == imageSha256_ && digest.value.second == imageBytes_ && !timeError) {
        std::lock_guard lock(mutex_);
        imageTime_ = time;
        return std::nullopt;
    }
    return "the image " + settings_.run.imagePath +
           " changed after the station started (the record would name another image): start the station again";
}

void Station::SlotBody(Slot& slot, std::stop_token stop) {
    auto setStage = [&slot](SlotStage stage) {
        std::lock_guard lock(slot.mutex);
        slot.status.stage = stage;
    };
    auto report = [&slot](SlotStage stage, const std::string& identity) {
        std::lock_guard lock(slot.mutex);
        slot.status.stage = stage;
        slot.status.identity = identity;
    };
    while (!stop.stop_requested()) {
        setStage(SlotStage::Empty);
        BoardSeen seen;
        if (!slot.watcher->WaitForArrival(stop, &seen)) break;
        const auto arrived = Clock::now();
        BoardRecord record;
        record.started = std::chrono::system_clock::now();
        // Past --count the slot leaves its board alone: a board started now would only be stopped.
        if (!ClaimBoard()) break;

        auto stages = std::make_shared<BoardStages>();
        {
            std::lock_guard lock(slot.mutex);
            slot.current = stages;
        }
        BoardVerdict verdict;
        if (std::optional<std::string> changed = ImageChanged()) {
            verdict.reason = *changed;
            verdict.identity = slot.job.place.text;
        } else {
            verdict = RunSlotBoard(slot.job, seen, *stages, report, stop);
        }
        record.slot = slot.job.place.text;
        record.identity = verdict.identity;
        record.imageSha256 = imageSha256_;
        record.bytes = imageBytes_;
        record.ok = verdict.ok;
        record.reason = verdict.reason;
        record.seconds = std::chrono::duration<double>(Clock::now() - arrived).count();
        record.stages = stages->Times();
        record.toolVersion = settings_.toolVersion;
        BoardDone(slot, std::move(record), stages->Log());
        if (stop.stop_requested()) break;
        setStage(SlotStage::Remove);
        if (!slot.watcher->WaitForDeparture(stop)) break;
    }
    setStage(SlotStage::Closed);
    std::lock_guard lock(mutex_);
    if (--running_ == 0) endedAt_ = Clock::now();
    done_.notify_all();
}

void Station::BoardDone(Slot& slot, BoardRecord record, std::vector<std::string> log) {
    if (settings_.record) {
        if (Outcome kept = settings_.record->Append(record); !kept.Ok()) {
            std::lock_guard lock(mutex_);
            if (problem_.empty()) problem_ = kept.message + "; the station stopped so that no board goes unrecorded";
            stop_.request_stop();
        }
    }
    figures_.Add(record);
    {
        std::lock_guard lock(slot.mutex);
        SlotStatus& status = slot.status;
        ++status.boards;
        ++(record.ok ? status.passed : status.failed);
        status.hasLast = true;
        status.lastOk = record.ok;
        status.lastReason = record.reason;
        status.identity = record.identity;
        slot.lastLog = std::move(log);
    }
    if (settings_.keepRecords) {
        std::lock_guard lock(mutex_);
        records_.push_back(record);
    }
    view_.BoardEnded(record, VerdictLine(record));
    if (settings_.count > 0 && ++ended_ >= settings_.count) stop_.request_stop();
}

StationSnapshot Station::Snapshot() const {
    StationSnapshot snapshot;
    for (const auto& slot : slots_) {
        std::shared_ptr<BoardStages> current;
        SlotStatus status;
        {
            std::lock_guard lock(slot->mutex);
            status = slot->status;
            current = slot->current;
        }
        if (current && status.stage == SlotStage::Flashing) {
            status.step = current->Stage();
            status.fraction = current->Fraction();
            status.counted = current->Counted();
        }
        status.look = slot->watcher->LastLook();
        snapshot.states.push_back(std::move(status));
    }
    snapshot.totals = figures_.Totals();
    snapshot.seconds = Running().count();
    snapshot.unitsPerHour = figures_.UnitsPerHour(Running());
    return snapshot;
}

std::vector<std::string> Station::SlotLog(size_t index) const {
    if (index >= slots_.size()) return {};
    std::lock_guard lock(slots_[index]->mutex);
    return slots_[index]->lastLog;
}

std::chrono::duration<double> Station::Running() const {
    if (started_ == Clock::time_point{}) return {};
    std::lock_guard lock(mutex_);
    return (endedAt_ ? *endedAt_ : Clock::now()) - started_;
}

std::vector<BoardRecord> Station::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::string Station::Problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

}  // namespace sealbench
