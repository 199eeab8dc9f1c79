// The factory line's station: one thread per slot, each watching its place; a board
// that arrives is flashed at once (RunSlotBoard), without waiting for the other
// slots, its record appended and synced, its verdict line handed to the front end,
// and the slot re-arms only once the board has gone. A place no slot names is never
// opened. The station ends on Stop() or once --count boards have ended; a board in
// progress then fails as stopped. sealbench-cli's station command and the window's
// station tiles are thin views of it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "common/outcome.h"
#include "download/plan/run_settings.h"
#include "station/board_record.h"
#include "station/board_stages.h"
#include "station/control_sequence.h"
#include "station/identity.h"
#include "station/line_figures.h"
#include "station/presence.h"
#include "station/record_file.h"
#include "station/slot_board.h"
#include "station/slot_place.h"
#include "station/usb_boards.h"

namespace sealbench {

struct StationSettings {
    std::vector<SlotPlace> places;
    RunSettings run;  // every board's FLASHING run, the processor included
    int count = 0;    // end after this many boards; 0: until stopped
    std::optional<IdentitySpec> identity;
    ControlSequence resetSequence;       // played on serial slots after opening (also before each presence probe)
    ControlSequence afterSequence;       // played on serial slots after a board flashed well
    PresenceOptions presence;            // its probe's line mode and sequence are the station's
    std::unique_ptr<RecordFile> record;  // --record; none when empty
    bool keepRecords = false;            // keep every board's record for a report at the end (--junit)
    std::string toolVersion;
};

// A board's line on standard output: "PLACE: OK IDENTITY" or "PLACE: FAILED - REASON".
std::string VerdictLine(const BoardRecord& record);

struct SlotStatus {
    std::string place;
    SlotStage stage = SlotStage::Empty;
    std::string step;      // the stage of the board's run while Flashing ("Flash Program"); "" before the first
    double fraction = 0;   // how far `step` has come, 0 to 1
    bool counted = false;  // `step` has a bar (the memory initialisation has none)
    std::string identity;  // the board in the slot, else the last one's
    int boards = 0;
    int passed = 0;
    int failed = 0;
    bool hasLast = false;  // a board has ended in this slot
    bool lastOk = false;
    std::string lastReason;
    std::string look;  // what the slot's presence watcher last saw, in words
};

// "waiting for a board", "Flash Program 45%", "done: take the board out"...
std::string StageText(const SlotStatus& slot);

struct StationSnapshot {
    std::vector<SlotStatus> states;
    LineFigures::Counts totals;
    double unitsPerHour = 0;
    double seconds = 0;  // running time
};

class StationView {
public:
    virtual ~StationView() = default;
    // A board ended: with --record its line is on the disk before this call. From
    // the slot's thread; slots call it one at a time per slot, several at once across slots.
    virtual void BoardEnded(const BoardRecord& record, const std::string& verdictLine) = 0;
};

class Station {
public:
    // Checks, before any slot is watched, what every board will get: each slot's plan
    // of the run (the image, the addresses, --fast on its port) and the image's
    // digest. A refusal's message is the run's log line (FailureKind::Input or File).
    static Result<std::unique_ptr<Station>> Create(StationSettings settings, StationView& view);
    // Stops every slot and waits for their threads.
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    void Start();
    // Ends the station: idle slots at once, a board in progress at its next send or
    // receive (it fails as stopped). Safe from any thread.
    void Stop();
    // True once every slot's thread has ended; false when `timeout` passed first.
    bool Wait(std::chrono::milliseconds timeout);

    StationSnapshot Snapshot() const;
    // The status log of the last board that ended in slot `index`.
    std::vector<std::string> SlotLog(size_t index) const;
    const LineFigures& Figures() const { return figures_; }
    std::chrono::duration<double> Running() const;
    std::vector<BoardRecord> Records() const;  // with keepRecords
    // Why the station stopped on its own, when it did (a record it could not write).
    std::string Problem() const;
    const std::string& ImageSha256() const { return imageSha256_; }
    uint64_t ImageBytes() const { return imageBytes_; }
    std::chrono::system_clock::time_point Started() const { return startedWall_; }

private:
    struct Slot;
    using Clock = std::chrono::steady_clock;

    Station(StationSettings settings, StationView& view);
    void SlotBody(Slot& slot, std::stop_token stop);
    bool ClaimBoard();
    void BoardDone(Slot& slot, BoardRecord record, std::vector<std::string> log);
    // The image as it was when the station checked it; a board must get that image.
    std::optional<std::string> ImageChanged();

    StationSettings settings_;
    StationView& view_;
    std::string imageSha256_;
    uint64_t imageBytes_ = 0;
    std::filesystem::file_time_type imageTime_;  // under mutex_
    LineFigures figures_;
    std::unique_ptr<UsbBoards> usb_;
    std::vector<std::unique_ptr<Slot>> slots_;

    std::atomic<int> claimed_{0};
    std::atomic<int> ended_{0};
    std::stop_source stop_;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    int running_ = 0;                   // under mutex_: slot threads not yet ended
    std::vector<BoardRecord> records_;  // under mutex_
    std::string problem_;               // under mutex_
    Clock::time_point started_;
    std::optional<Clock::time_point> endedAt_;  // under mutex_
    std::chrono::system_clock::time_point startedWall_;
};

}  // namespace sealbench
