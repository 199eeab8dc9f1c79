// The board's NAND device (VireoC) as its controller drives it: 128 MiB of
// small pages (512 data + 16 spare bytes, 32 pages a block) with the classic
// command set (read 00h/01h/50h, program 80h-10h, block erase 60h-D0h, status
// 70h, ID 90h, reset FFh). Factory bad blocks carry a mark in the spare area.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace vsim {

class NandFlash {
public:
    static constexpr uint32_t kPageData = 512;
    static constexpr uint32_t kSpare = 16;
    static constexpr uint32_t kPageRaw = kPageData + kSpare;
    static constexpr uint32_t kPagesPerBlock = 32;
    static constexpr uint32_t kBlockCount = 8192;
    static constexpr uint32_t kBlockData = kPageData * kPagesPerBlock;
    static constexpr uint32_t kSize = kBlockData * kBlockCount;
    static constexpr uint32_t kPageCount = kPagesPerBlock * kBlockCount;
    // Spare byte that is not 0xFF in the first page of a bad block.
    static constexpr unsigned kBadBlockMarker = 5;
    static constexpr std::array<uint32_t, 4> kFactoryBadBlocks = {64, 1001, 4097, 8191};
    static constexpr uint8_t kMakerId = 0xEC;
    static constexpr uint8_t kDeviceId = 0x79;

    using Clock = std::chrono::steady_clock;
    struct Timing {
        Clock::duration pageRead = std::chrono::microseconds(10);
        Clock::duration pageProgram = std::chrono::microseconds(40);
        Clock::duration blockErase = std::chrono::microseconds(300);
    };

    NandFlash();

    // The controller's side.
    void Command(uint8_t command);
    void Address(uint8_t byte);
    uint8_t ReadData();
    void WriteData(uint8_t byte);
    bool Ready() const;

    // The array as stored, without faults.
    uint8_t PeekData(uint32_t offset) const;
    uint8_t PeekSpare(uint32_t page, unsigned byte) const;
    void CopyOut(uint8_t* to) const;  // data areas of all pages in order
    bool Written() const { return writes_ > 0; }
    uint64_t Writes() const { return writes_; }

    void AddEraseStuck(uint32_t offset) { eraseStuck_.insert(offset / kBlockData); }
    void AddProgramStuck(uint32_t offset) { programStuck_.insert(offset / kPageData); }
    void AddBitFlip(uint32_t offset, unsigned bit) { bitFlips_.insert({offset, bit}); }
    void MarkBad(uint32_t offset);
    void Hold(bool hold) {
        hold_ = hold;
        heldBusy_ = false;
    }
    void SetTiming(const Timing& timing) { timing_ = timing; }

private:
    enum class Mode { Idle, ReadAddress, ReadData, ProgramAddress, ProgramData, EraseAddress, Status, IdAddress, Id };

    uint8_t* Raw(uint32_t page);  // allocates an erased block
    const uint8_t* RawOrNull(uint32_t page) const;
    uint32_t RowPage() const;
    void LoadPage();
    void BeBusy(Clock::duration time);
    bool FactoryBad(uint32_t block) const;

    std::vector<std::unique_ptr<uint8_t[]>> blocks_;  // null: erased
    Mode mode_ = Mode::Idle;
    unsigned areaBase_ = 0;  // 0, 256 or 512: the pointer commands 00h, 01h, 50h
    std::vector<uint8_t> address_;
    std::array<uint8_t, kPageRaw> pageRegister_{};
    unsigned pointer_ = 0;
    uint32_t page_ = 0;
    bool fail_ = false;
    bool hold_ = false;
    bool heldBusy_ = false;  // an operation started while held
    uint64_t writes_ = 0;    // erases and programs started
    unsigned idIndex_ = 0;
    Clock::time_point readyAt_{};
    Timing timing_{};
    std::set<uint32_t> eraseStuck_;
    std::set<uint32_t> programStuck_;
    std::set<std::pair<uint32_t, unsigned>> bitFlips_;
};

}  // namespace vsim
