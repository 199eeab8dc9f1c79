// The conversations with the board, as free functions over a link: the DOWNLOAD only
// and FLASHING sequences with the flash library's status polling, and the debug
// operations (read one word, the Sekurel status). The window's runner and
// sealbench-cli both call these; each takes the link it is to use.
#pragma once

#include <bootwire/bootwire.h>

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

#include "common/outcome.h"
#include "download/plan/run_plan.h"
#include "download/run/progress.h"

namespace sealbench {

// Run phases; during flashing the phase is the state code of the latest status word.
enum RunPhase : int {
    kPhaseIdle = 0,
    kPhaseDownloading = 1,
    kPhaseFlashingStarted = 2,
    kPhaseFinished = 3,
    kStateErasing = 0xA1,
    kStateProgramming = 0xA2,
    kStateVerifying = 0xA3,
    kStateEraseFailed = 0xB1,
    kStateProgramFailed = 0xB2,
    kStateVerifyFailed = 0xB3,
    kStateCompleted = 0xB4,
};

// A state code that ends a flashing run (error or completed).
bool EndsRun(int code);
// How long the flash library may stay silent: the settings' bound, or by library.
// The built-in libraries answer every query, also while they erase; a user's
// library may stay silent through a whole chip erase, which takes minutes on a
// large NOR chip (the USB receive bound is five minutes for the same reason).
inline constexpr std::chrono::milliseconds kBuiltinLibrarySilence{20000};
inline constexpr std::chrono::milliseconds kUserLibrarySilence{300000};
std::chrono::milliseconds StatusSilenceLimit(const FlashingChoices& choices, FlashType flashType);
// Why a built-in library refuses the plan's flash address when it can be told
// from the address alone (it ends the run with an erase error); empty otherwise.
std::string RefusedAddressHint(const RunPlan& plan);
// One of the flash library's state codes; other words do not move the phase.
bool IsStateCode(int code);

// What a sequence tells whoever follows it. Called on the sequence's thread.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    // The download begins: `bytesToSend` payload bytes will go out; the image (for a
    // FLASHING run, the part that ends in flash) is `imageSize` bytes.
    virtual void DownloadStarted(uint64_t bytesToSend, uint32_t imageSize) = 0;
    virtual void BytesSent(size_t bytes) = 0;
    // A FLASHING download went out, whatever its result.
    virtual void FlashingDownloadDone() = 0;
    // The flash library runs; its status words follow.
    virtual void FlashingStarted() = 0;
    virtual void StatusWord(uint32_t word) = 0;
    // A stage the run entered without a status word to tell it (RunStage bits): a
    // fast run hears of its stages from the stream.
    virtual void StageEntered(unsigned stage) = 0;
    // Image bytes in flash so far (while verifying: read back so far). Only runs
    // that can count them report it; the others' progress follows status words.
    virtual void FlashWritten(uint64_t) {}
    // Runs that compare the flash block by block first: how many blocks the images
    // have, and how many of them the flash held already (not sent).
    virtual void BlocksCompared(uint32_t /*blocks*/, uint32_t /*skipped*/) {}
    // A status-log line the run writes while it goes on (one per image of a layout).
    virtual void StatusLine(std::string_view /*line*/) {}
    // What the library said about a failure, for stderr or a tooltip.
    virtual void Diagnostic(std::string_view text) = 0;
};

// The whole run of the plan's operation over `link`; the outcome's message is the
// success text or the reason ("Error!!- Reason: %s" in the log). `usb` is the
// channel the flash library reports on. Stopping abandons the status polling.
Outcome RunSequence(bootwire::Link& link, const RunPlan& plan, bool usb, RunObserver& observer,
                    std::stop_token stop = {});

// The board answers a command within milliseconds; a receive that waits longer than
// this has lost the board (USB would otherwise wait for minutes).
inline constexpr int kReceiveLimitMs = 5000;

// Bounds the link's receives while it lives.
class ReceiveLimit {
public:
    explicit ReceiveLimit(bootwire::Link& link) : link_(link) { link_.SetReceiveTimeoutLimit(kReceiveLimitMs); }
    ~ReceiveLimit() { link_.SetReceiveTimeoutLimit(0); }
    ReceiveLimit(const ReceiveLimit&) = delete;
    ReceiveLimit& operator=(const ReceiveLimit&) = delete;

private:
    bootwire::Link& link_;
};

// The line that follows a failure when the board fell silent or went away: what
// happened and what to do. Empty for other failures (a wrong answer says more by itself).
std::string SilentBoardHint(bootwire::Error error);
// A failed read of target memory: as a silent board's failure, but a read that
// something other than the boot ROM answered (a console, a board running its
// firmware) says so.
Outcome ReadFailure(std::string text, const bootwire::Link& link, bootwire::Error error);

// The hint after a flash library that never answered: it did not start, most often
// because the processor type chosen is not the board's.
inline constexpr std::string_view kNeverAnsweredHint =
    "the flash library never answered: is the processor type right? A flash library built for another Vireo "
    "processor does not start on this board; reset the board into boot-ROM download mode and try again";

// The reason a run ends with when it was stopped on request.
inline constexpr std::string_view kStoppedText = "The run was stopped";
// A failure of `link` as the run's outcome: `text` with the hint and the link's
// detail, or the stopped outcome when the link was stopped.
Outcome LinkFailure(std::string text, const bootwire::Link& link, bootwire::Error error);

// "Read": one 32-bit word at `address`, taken little-endian.
Result<uint32_t> ReadMemoryWord(bootwire::Link& link, uint32_t address);
// "Register/Memory 0x%08x : 0x%08x"
std::string ReadMemoryLine(uint32_t address, uint32_t word);

// "Check Sekurel Status": the word of the get-status command.
Result<uint32_t> ReadSekurelStatus(bootwire::Link& link);
// "Init Sekurel status from ROM: 0x%x" with the word's low 8 bits.
std::string SekurelStatusLine(uint32_t word);

}  // namespace sealbench
