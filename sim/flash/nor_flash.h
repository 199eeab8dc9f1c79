// The board's NOR flash as its bus sees it: a 32 MiB x16 part with the CFI query
// and the AMD-style command set (unlock cycles, word program, unlock bypass,
// sector and chip erase, autoselect, status by DQ7/DQ6/DQ5). Erase and program take modelled time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace vsim {

class NorFlash {
public:
    static constexpr uint32_t kSize = 32u << 20;
    static constexpr uint32_t kBootSector = 32u << 10;   // four at each end
    static constexpr uint32_t kMainSector = 128u << 10;  // 254 in between
    static constexpr unsigned kBootSectorsPerEnd = 4;
    static constexpr unsigned kSectorCount = 2 * kBootSectorsPerEnd + 254;

    using Clock = std::chrono::steady_clock;
    struct Timing {
        Clock::duration bootSectorErase = std::chrono::milliseconds(1);
        Clock::duration mainSectorErase = std::chrono::milliseconds(2);
        Clock::duration wordProgram = std::chrono::nanoseconds(250);
    };

    NorFlash();

    // Offsets are byte offsets from the device's first byte; the part is x16, so
    // commands are 16-bit writes at word address * 2.
    uint16_t Read16(uint32_t offset);
    void Write16(uint32_t offset, uint16_t value);

    // Sector number and extent of a byte offset.
    static unsigned SectorOf(uint32_t offset);
    static std::pair<uint32_t, uint32_t> SectorExtent(unsigned sector);  // start, size

    // The array as stored, without faults or command modes.
    uint8_t Peek(uint32_t offset) const;
    // Puts bytes into the array as if a programmer had written them before assembly.
    void Preload(uint32_t offset, const uint8_t* data, size_t size);
    void CopyOut(uint8_t* to) const;
    bool Written() const { return writes_ > 0; }
    uint64_t Writes() const { return writes_; }

    void AddEraseStuck(uint32_t offset) { eraseStuck_.insert(SectorOf(offset)); }
    void AddProgramStuck(uint32_t offset) { programStuck_.insert(offset & ~1u); }
    void AddBitFlip(uint32_t offset, unsigned bit) { bitFlips_.insert({offset, bit}); }
    // While held, a started erase or program does not finish (lets tests see the busy state).
    void Hold(bool hold);
    void SetTiming(const Timing& timing) { timing_ = timing; }

private:
    enum class Mode { ReadArray, Autoselect, Cfi, Busy };
    enum class Step { Idle, Unlocked1, Unlocked2, ProgramData, EraseUnlock0, EraseUnlock1, EraseUnlock2, BypassExit };
    enum class Operation { None, Program, SectorErase, ChipErase };

    uint16_t ArrayWord(uint32_t offset) const;
    uint16_t ArrayWordRaw(uint32_t offset) const;
    uint16_t StatusRead();
    uint16_t CfiWord(uint32_t wordAddress) const;
    uint16_t AutoselectWord(uint32_t wordAddress) const;
    void Command(uint32_t wordAddress, uint16_t value, uint32_t offset);
    void StartOperation(Operation op, uint32_t offset, uint16_t value, Clock::duration time);
    void FinishIfDue();
    void EraseSector(unsigned sector);
    uint8_t* SectorData(unsigned sector);

    std::vector<std::unique_ptr<uint8_t[]>> sectors_;  // null: erased
    Mode mode_ = Mode::ReadArray;
    Mode modeBeforeCfi_ = Mode::ReadArray;
    Step step_ = Step::Idle;
    Operation op_ = Operation::None;
    uint32_t opOffset_ = 0;
    uint16_t opValue_ = 0;
    bool opFails_ = false;
    bool exceeded_ = false;  // DQ5: the operation ran out of time and is stuck until reset
    bool toggle_ = false;
    bool bypass_ = false;  // unlock bypass: programs need no unlock cycles
    bool hold_ = false;
    uint64_t writes_ = 0;  // erases and programs started
    Clock::time_point due_{};
    Timing timing_{};
    std::set<unsigned> eraseStuck_;
    std::set<uint32_t> programStuck_;
    std::set<std::pair<uint32_t, unsigned>> bitFlips_;
};

}  // namespace vsim
