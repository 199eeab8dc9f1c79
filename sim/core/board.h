// One virtual Vireo board: the boot ROM's command handling over the serial and
// USB links, its memory, the program the ROM starts after a load, and the faults
// injected on the board's side of the link.
//
// The board is driven from one thread (the one that calls Feed, Poll and Reset);
// a running program talks back from its own thread through the links' toHost,
// which must therefore be safe to call from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/faults.h"
#include "core/memory.h"
#include "core/program.h"
#include "core/protocol.h"
#include "core/stream_witness.h"
#include "flash/board_flash.h"

namespace vsim {

struct BoardLinks {
    // Bytes for the host on a channel; called from the feeding thread and from programs.
    std::function<void(Channel, const uint8_t*, size_t)> toHost;
    // One diagnostic line, without its line feed.
    std::function<void(const std::string&)> log;
    // The USB device goes away (it re-enumerates): the host's connection must be closed
    // once the bytes already sent have left.
    std::function<void()> usbDisconnect;
    // A program ended on its own thread: the feeding thread should call Poll() soon.
    std::function<void()> programEnded;
    // True when every byte for the host on the serial line has left the board (the
    // UART's transmitter is idle); unset: always.
    std::function<bool()> serialSent;
};

// What one program the board ran received in the streaming mode's blocks.
struct ProgramStreamStats {
    uint32_t entry = 0;
    uint64_t blocks = 0;
    uint64_t payloadBytes = 0;
};

struct BoardConfig {
    Cpu cpu = Cpu::VireoC_TO2;
    uint32_t sekurelStatus = kDefaultSekurelStatus;
    LinkFaults faults;
    std::vector<uint8_t> uniqueId;      // what the unique-ID block holds (at most kUniqueIdSize bytes)
    std::unique_ptr<BoardFlash> flash;  // none: flash windows read as plain memory
    ProgramFactory programs;            // none, or no program for an entry: the image just keeps the board busy
};

class Board {
public:
    Board(BoardConfig config, BoardLinks links);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Host bytes arriving on a channel. Returns how many the board took: fewer than n
    // once a silent-after fault has the board stop reading.
    size_t Feed(Channel channel, const uint8_t* data, size_t n);
    // How many more host bytes the board will take (SIZE_MAX: no limit).
    size_t ReadBudget() const;
    // Cleans up after a program that ended by itself.
    void Poll();
    // Back to the boot ROM, as the reset button does: the program stops, frames in
    // flight are dropped, the USB device re-enumerates. Memory keeps its contents.
    void Reset();
    // Stops a running program for good (before the board is dumped or destroyed).
    void Shutdown();

    // A jig's reset line. While held, the board is in reset: nothing runs, host
    // bytes are lost and nothing is answered; the USB device is gone. Release starts
    // the board: in its boot ROM when bootMode (the boot-mode pin was set), else in
    // the firmware of its flash, whose console the boot ROM does not answer behind.
    // Memory and flash keep their contents.
    void HoldInReset();
    void Release(bool bootMode);
    bool InReset() const { return inReset_; }

    bool ProgramRunning() const;
    bool Halted() const { return halted_; }
    uint32_t PendingEntry() const { return pendingEntry_; }
    bool HasPendingEntry() const { return hasPendingEntry_; }
    Cpu GetCpu() const { return cpu_; }
    // The UART's current rate in baud: the boot ROM's 115200 until a program
    // changes the divisor, and again once the board is back in its boot ROM.
    unsigned SerialBaud() const { return uartBaud_.load(); }
    const LinkFaults& Faults() const { return faults_; }
    BusMemory& Memory() { return memory_; }
    BoardFlash* Flash() { return flash_.get(); }
    uint64_t RegisterWrites() const { return registerWrites_; }
    // Every program started so far, in order, with what its serial line carried in
    // blocks (counted by the board's own StreamWitness).
    std::vector<ProgramStreamStats> StreamStats() const;
    uint64_t StatusQueries() const { return statusQueries_; }

private:
    struct ChannelState {
        std::array<uint8_t, kFrameSize> frame{};
        size_t have = 0;
        // A write-file payload in progress.
        uint32_t loadStart = 0;
        uint32_t loadNext = 0;
        uint64_t loadLeft = 0;
        FileType loadType = FileType::Image;
        size_t loadRefused = 0;
        // Bytes held back while they match the start of a flashing-status query.
        std::array<uint8_t, kFrameSize> held{};
        size_t heldCount = 0;
    };

    void RomBytes(Channel channel, const uint8_t* data, size_t n);
    void ProgramBytes(Channel channel, const uint8_t* data, size_t n);
    void Frame(Channel channel, const uint8_t* frame);
    void UnknownFrame(Channel channel, const uint8_t* frame);
    void WriteRegister(Channel channel, uint32_t addr, uint8_t format, uint32_t value);
    void ReadMemory(Channel channel, uint32_t addr, uint8_t format, uint32_t count);
    void WriteFile(Channel channel, uint32_t addr, uint32_t count, uint8_t fileType);
    void GetStatus(Channel channel);
    void LoadFinished(ChannelState& state);
    void StartProgram(Channel channel, uint32_t entry);
    void StatusQuery(Channel channel, std::vector<uint8_t>* pass);
    void EndProgram(bool toRom);
    // Stops what runs and forgets frames in flight; true when the USB device must re-enumerate.
    bool StopRunning();
    ProgramContext ContextFor(uint32_t entry);
    void SendWord(Channel channel, uint32_t word);
    void Send(Channel channel, const uint8_t* data, size_t n);
    void Log(const std::string& line) const;

    const Cpu cpu_;
    const uint32_t sekurelStatus_;
    const LinkFaults faults_;
    std::unique_ptr<BoardFlash> flash_;
    ProgramFactory programs_;
    BoardLinks links_;
    BusMemory memory_;

    std::array<ChannelState, 2> channels_;
    bool hasPendingEntry_ = false;
    uint32_t pendingEntry_ = 0;
    uint64_t registerWrites_ = 0;
    uint64_t statusQueries_ = 0;
    uint64_t unknownFrames_ = 0;
    uint64_t bytesTaken_ = 0;
    uint64_t serialTaken_ = 0;
    std::atomic<uint64_t> serialSentCount_ = 0;
    std::atomic<unsigned> uartBaud_;
    std::atomic<bool> silent_ = false;
    bool halted_ = false;  // a program stopped without handing the board back
    bool inReset_ = false;

    std::unique_ptr<Program> program_;
    std::vector<std::pair<uint32_t, StreamWitness>> witnesses_;  // entry of each program started
    Channel programChannel_ = Channel::Serial;
    std::atomic<bool> programUsedUsb_ = false;
    std::atomic<bool> programEnded_ = false;
    std::atomic<bool> programBackToRom_ = false;
};

}  // namespace vsim
