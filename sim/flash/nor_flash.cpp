#include "flash/nor_flash.h"

#include <algorithm>
#include <cstring>

namespace vsim {

namespace {

constexpr uint32_t kUnlockAddress1 = 0x555;
constexpr uint32_t kUnlockAddress2 = 0x2AA;
constexpr uint32_t kCfiQueryAddress = 0x55;
// Real parts decode only the low address lines in command cycles.
constexpr uint32_t kCommandAddressMask = 0x7FF;

constexpr uint16_t kDq7 = 1u << 7;
constexpr uint16_t kDq6 = 1u << 6;
constexpr uint16_t kDq5 = 1u << 5;

}  // namespace

NorFlash::NorFlash() : sectors_(kSectorCount) {}

unsigned NorFlash::SectorOf(uint32_t offset) {
    constexpr uint32_t bootArea = kBootSectorsPerEnd * kBootSector;
    if (offset < bootArea) return offset / kBootSector;
    if (offset >= kSize - bootArea)
        return kSectorCount - kBootSectorsPerEnd + (offset - (kSize - bootArea)) / kBootSector;
    return kBootSectorsPerEnd + (offset - bootArea) / kMainSector;
}

std::pair<uint32_t, uint32_t> NorFlash::SectorExtent(unsigned sector) {
    constexpr uint32_t bootArea = kBootSectorsPerEnd * kBootSector;
    if (sector < kBootSectorsPerEnd) return {sector * kBootSector, kBootSector};
    if (sector >= kSectorCount - kBootSectorsPerEnd)
        return {kSize - bootArea + (sector - (kSectorCount - kBootSectorsPerEnd)) * kBootSector, kBootSector};
    return {bootArea + (sector - kBootSectorsPerEnd) * kMainSector, kMainSector};
}

uint8_t NorFlash::Peek(uint32_t offset) const {
    const unsigned sector = SectorOf(offset);
    if (!sectors_[sector]) return 0xFF;
    return sectors_[sector][offset - SectorExtent(sector).first];
}

void NorFlash::Preload(uint32_t offset, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size && offset + i < kSize; ++i) {
        const auto at = static_cast<uint32_t>(offset + i);
        const unsigned sector = SectorOf(at);
        SectorData(sector)[at - SectorExtent(sector).first] = data[i];
    }
}

void NorFlash::CopyOut(uint8_t* to) const {
    for (unsigned s = 0; s < kSectorCount; ++s) {
        const auto [start, size] = SectorExtent(s);
        if (sectors_[s])
            std::memcpy(to + start, sectors_[s].get(), size);
        else
            std::memset(to + start, 0xFF, size);
    }
}

uint8_t* NorFlash::SectorData(unsigned sector) {
    if (!sectors_[sector]) {
        const uint32_t size = SectorExtent(sector).second;
        sectors_[sector] = std::make_unique<uint8_t[]>(size);
        std::memset(sectors_[sector].get(), 0xFF, size);
    }
    return sectors_[sector].get();
}

void NorFlash::Hold(bool hold) { hold_ = hold; }

uint16_t NorFlash::ArrayWord(uint32_t offset) const {
    offset &= ~1u;
    uint16_t word = static_cast<uint16_t>(Peek(offset) | (Peek(offset + 1) << 8));
    for (const auto& [at, bit] : bitFlips_) {
        if ((at & ~1u) == offset) word ^= static_cast<uint16_t>(1u << ((at & 1u) * 8 + bit));
    }
    return word;
}

uint16_t NorFlash::CfiWord(uint32_t wordAddress) const {
    // Erase block regions: count - 1 (16 bits), then size / 256 (16 bits).
    static constexpr uint8_t kRegions[] = {
        kBootSectorsPerEnd - 1,
        0,
        (kBootSector >> 8) & 0xFF,
        kBootSector >> 16,
        253,
        0,
        (kMainSector >> 8) & 0xFF,
        kMainSector >> 16,
        kBootSectorsPerEnd - 1,
        0,
        (kBootSector >> 8) & 0xFF,
        kBootSector >> 16,
    };
    switch (wordAddress) {
        case 0x10:
            return 'Q';
        case 0x11:
            return 'R';
        case 0x12:
            return 'Y';
        case 0x13:
            return 0x02;  // AMD/Fujitsu standard command set
        case 0x15:
            return 0x40;  // primary extended table
        case 0x1B:
            return 0x17;  // Vcc min 1.7 V
        case 0x1C:
            return 0x19;  // Vcc max 1.9 V
        case 0x1F:
            return 0x06;  // typical word program 2^6 us
        case 0x21:
            return 0x09;  // typical sector erase 2^9 ms
        case 0x23:
            return 0x03;
        case 0x25:
            return 0x03;
        case 0x27:
            return 0x19;  // 2^25 bytes
        case 0x28:
            return 0x01;  // x16 interface
        case 0x2C:
            return 3;  // erase block regions
        case 0x40:
            return 'P';
        case 0x41:
            return 'R';
        case 0x42:
            return 'I';
        case 0x43:
            return '1';
        case 0x44:
            return '3';
        default:
            if (wordAddress >= 0x2D && wordAddress < 0x2D + sizeof kRegions) return kRegions[wordAddress - 0x2D];
            return 0;
    }
}

uint16_t NorFlash::AutoselectWord(uint32_t wordAddress) const {
    switch (wordAddress & 0xFF) {
        case 0x00:
            return 0x0001;
        case 0x01:
            return 0x227E;
        case 0x0E:
            return 0x2230;
        case 0x0F:
            return 0x2200;
        default:
            return 0;
    }
}

uint16_t NorFlash::StatusRead() {
    toggle_ = !toggle_;
    uint16_t status = toggle_ ? kDq6 : 0;
    if (op_ == Operation::Program) status |= ~opValue_ & kDq7;
    if (exceeded_) status |= kDq5;
    return status;
}

void NorFlash::FinishIfDue() {
    if (mode_ != Mode::Busy || exceeded_ || hold_ || Clock::now() < due_) return;
    if (op_ == Operation::Program) {
        const uint32_t word = opOffset_ & ~1u;
        if (!programStuck_.count(word)) {
            uint8_t* data = SectorData(SectorOf(word));
            const uint32_t at = word - SectorExtent(SectorOf(word)).first;
            data[at] &= static_cast<uint8_t>(opValue_);
            data[at + 1] &= static_cast<uint8_t>(opValue_ >> 8);
        }
    } else if (op_ == Operation::SectorErase) {
        EraseSector(SectorOf(opOffset_));
    } else if (op_ == Operation::ChipErase) {
        for (unsigned s = 0; s < kSectorCount; ++s) EraseSector(s);
    }
    if (opFails_) {
        // The embedded algorithm gave up: DQ5 rises and the part stays busy until reset.
        exceeded_ = true;
        return;
    }
    op_ = Operation::None;
    mode_ = Mode::ReadArray;
}

void NorFlash::EraseSector(unsigned sector) {
    if (!eraseStuck_.count(sector)) sectors_[sector].reset();
}

void NorFlash::StartOperation(Operation op, uint32_t offset, uint16_t value, Clock::duration time) {
    ++writes_;
    op_ = op;
    opOffset_ = offset;
    opValue_ = value;
    if (op == Operation::Program) {
        const uint16_t now = ArrayWordRaw(offset);
        // A 0 cannot be programmed back to 1: data polling never matches and the part times out.
        opFails_ = programStuck_.count(offset & ~1u) > 0 || (now & value) != value;
    } else if (op == Operation::SectorErase) {
        opFails_ = eraseStuck_.count(SectorOf(offset)) > 0;
    } else {
        opFails_ = !eraseStuck_.empty();
    }
    exceeded_ = false;
    mode_ = Mode::Busy;
    due_ = Clock::now() + time;
}

uint16_t NorFlash::ArrayWordRaw(uint32_t offset) const {
    offset &= ~1u;
    return static_cast<uint16_t>(Peek(offset) | (Peek(offset + 1) << 8));
}

uint16_t NorFlash::Read16(uint32_t offset) {
    FinishIfDue();
    switch (mode_) {
        case Mode::Busy:
            return StatusRead();
        case Mode::Cfi:
            return CfiWord(offset >> 1);
        case Mode::Autoselect:
            return AutoselectWord(offset >> 1);
        case Mode::ReadArray:
            break;
    }
    return ArrayWord(offset);
}

void NorFlash::Write16(uint32_t offset, uint16_t value) {
    FinishIfDue();
    if (mode_ == Mode::Busy) {
        // Only a reset gets a timed-out part back; anything else is ignored while busy.
        if (exceeded_ && value == 0xF0) {
            exceeded_ = false;
            op_ = Operation::None;
            mode_ = Mode::ReadArray;
            step_ = Step::Idle;
        }
        return;
    }
    Command((offset >> 1) & kCommandAddressMask, value, offset);
}

void NorFlash::Command(uint32_t wordAddress, uint16_t value, uint32_t offset) {
    if (step_ == Step::ProgramData) {
        step_ = Step::Idle;
        StartOperation(Operation::Program, offset, value, timing_.wordProgram);
        return;
    }
    if (value == 0xF0) {
        mode_ = mode_ == Mode::Cfi ? modeBeforeCfi_ : Mode::ReadArray;
        step_ = Step::Idle;
        return;
    }
    if (mode_ == Mode::Cfi) return;
    if (step_ == Step::BypassExit) {
        step_ = Step::Idle;
        if (value == 0x00) bypass_ = false;
        return;
    }
    if (bypass_ && step_ == Step::Idle && (value == 0xA0 || value == 0x90)) {
        step_ = value == 0xA0 ? Step::ProgramData : Step::BypassExit;
        return;
    }
    if (value == 0x98 && wordAddress == kCfiQueryAddress && step_ == Step::Idle) {
        modeBeforeCfi_ = mode_;
        mode_ = Mode::Cfi;
        return;
    }
    switch (step_) {
        case Step::Idle:
            step_ = wordAddress == kUnlockAddress1 && value == 0xAA ? Step::Unlocked1 : Step::Idle;
            break;
        case Step::Unlocked1:
            step_ = wordAddress == kUnlockAddress2 && value == 0x55 ? Step::Unlocked2 : Step::Idle;
            break;
        case Step::Unlocked2:
            step_ = Step::Idle;
            if (wordAddress != kUnlockAddress1) break;
            if (value == 0xA0)
                step_ = Step::ProgramData;
            else if (value == 0x80)
                step_ = Step::EraseUnlock0;
            else if (value == 0x90)
                mode_ = Mode::Autoselect;
            else if (value == 0x20)
                bypass_ = true;
            break;
        case Step::EraseUnlock0:
            step_ = wordAddress == kUnlockAddress1 && value == 0xAA ? Step::EraseUnlock1 : Step::Idle;
            break;
        case Step::EraseUnlock1:
            step_ = wordAddress == kUnlockAddress2 && value == 0x55 ? Step::EraseUnlock2 : Step::Idle;
            break;
        case Step::EraseUnlock2:
            step_ = Step::Idle;
            if (value == 0x30) {
                const bool boot = SectorExtent(SectorOf(offset)).second == kBootSector;
                StartOperation(Operation::SectorErase, offset, 0,
                               boot ? timing_.bootSectorErase : timing_.mainSectorErase);
            } else if (value == 0x10 && wordAddress == kUnlockAddress1) {
                StartOperation(Operation::ChipErase, offset, 0, timing_.mainSectorErase * 16);
            }
            break;
        case Step::ProgramData:
        case Step::BypassExit:
            break;
    }
}

}  // namespace vsim
