#include "flash/nand_flash.h"

#include <algorithm>
#include <cstring>

namespace vsim {

namespace {

constexpr uint8_t kStatusNotProtected = 0x80;
constexpr uint8_t kStatusReady = 0x40;
constexpr uint8_t kStatusFail = 0x01;
constexpr std::array<uint8_t, 4> kIdBytes = {NandFlash::kMakerId, NandFlash::kDeviceId, 0xA5, 0xC0};

}  // namespace

NandFlash::NandFlash() : blocks_(kBlockCount) {
    for (uint32_t block : kFactoryBadBlocks) MarkBad(block * kBlockData);
}

void NandFlash::MarkBad(uint32_t offset) {
    Raw((offset / kBlockData) * kPagesPerBlock)[kPageData + kBadBlockMarker] = 0x00;
}

bool NandFlash::FactoryBad(uint32_t block) const {
    const uint8_t* first = RawOrNull(block * kPagesPerBlock);
    return first && first[kPageData + kBadBlockMarker] != 0xFF;
}

uint8_t* NandFlash::Raw(uint32_t page) {
    auto& block = blocks_[page / kPagesPerBlock];
    if (!block) {
        block = std::make_unique<uint8_t[]>(kPageRaw * kPagesPerBlock);
        std::memset(block.get(), 0xFF, kPageRaw * kPagesPerBlock);
    }
    return block.get() + (page % kPagesPerBlock) * kPageRaw;
}

const uint8_t* NandFlash::RawOrNull(uint32_t page) const {
    const auto& block = blocks_[page / kPagesPerBlock];
    return block ? block.get() + (page % kPagesPerBlock) * kPageRaw : nullptr;
}

uint8_t NandFlash::PeekData(uint32_t offset) const {
    const uint8_t* raw = RawOrNull(offset / kPageData);
    return raw ? raw[offset % kPageData] : 0xFF;
}

uint8_t NandFlash::PeekSpare(uint32_t page, unsigned byte) const {
    const uint8_t* raw = RawOrNull(page);
    return raw ? raw[kPageData + byte] : 0xFF;
}

void NandFlash::CopyOut(uint8_t* to) const {
    for (uint32_t page = 0; page < kPageCount; ++page) {
        const uint8_t* raw = RawOrNull(page);
        if (raw)
            std::memcpy(to + page * kPageData, raw, kPageData);
        else
            std::memset(to + page * kPageData, 0xFF, kPageData);
    }
}

bool NandFlash::Ready() const { return !heldBusy_ && Clock::now() >= readyAt_; }

void NandFlash::BeBusy(Clock::duration time) {
    readyAt_ = Clock::now() + time;
    heldBusy_ = hold_;
}

uint32_t NandFlash::RowPage() const {
    // Row cycles follow the column cycle for reads and programs; erase has rows only.
    const size_t first = mode_ == Mode::EraseAddress ? 0 : 1;
    uint32_t page = 0;
    for (size_t i = 0; i < 3 && first + i < address_.size(); ++i) page |= uint32_t{address_[first + i]} << (8 * i);
    return page % kPageCount;
}

void NandFlash::LoadPage() {
    const uint8_t* raw = RawOrNull(page_);
    if (raw)
        std::copy(raw, raw + kPageRaw, pageRegister_.begin());
    else
        pageRegister_.fill(0xFF);
    for (const auto& [offset, bit] : bitFlips_) {
        if (offset / kPageData == page_) pageRegister_[offset % kPageData] ^= static_cast<uint8_t>(1u << bit);
    }
}

void NandFlash::Command(uint8_t command) {
    if (!Ready() && command != 0x70 && command != 0xFF) return;  // a busy device only listens for status and reset
    switch (command) {
        case 0x00:
        case 0x01:
        case 0x50:
            areaBase_ = command == 0x00 ? 0 : command == 0x01 ? 256 : kPageData;
            mode_ = Mode::ReadAddress;
            address_.clear();
            break;
        case 0x80:
            mode_ = Mode::ProgramAddress;
            address_.clear();
            pageRegister_.fill(0xFF);
            break;
        case 0x10:
            if (mode_ != Mode::ProgramData) break;
            ++writes_;
            fail_ = programStuck_.count(page_) > 0 || FactoryBad(page_ / kPagesPerBlock);
            if (!fail_) {
                uint8_t* raw = Raw(page_);
                for (unsigned i = 0; i < kPageRaw; ++i) raw[i] &= pageRegister_[i];
            }
            mode_ = Mode::Idle;
            areaBase_ = 0;
            BeBusy(timing_.pageProgram);
            break;
        case 0x60:
            mode_ = Mode::EraseAddress;
            address_.clear();
            break;
        case 0xD0: {
            if (mode_ != Mode::EraseAddress || address_.size() < 3) break;
            ++writes_;
            const uint32_t block = RowPage() / kPagesPerBlock;
            // A factory bad block keeps its mark: the device refuses to erase it.
            fail_ = eraseStuck_.count(block) > 0 || FactoryBad(block);
            if (!fail_) blocks_[block].reset();
            mode_ = Mode::Idle;
            BeBusy(timing_.blockErase);
            break;
        }
        case 0x70:
            mode_ = Mode::Status;
            break;
        case 0x90:
            mode_ = Mode::IdAddress;
            address_.clear();
            break;
        case 0xFF:
            mode_ = Mode::Idle;
            areaBase_ = 0;
            fail_ = false;
            BeBusy(std::chrono::microseconds(1));
            break;
        default:
            mode_ = Mode::Idle;
            break;
    }
}

void NandFlash::Address(uint8_t byte) {
    if (!Ready()) return;
    address_.push_back(byte);
    switch (mode_) {
        case Mode::ReadAddress:
            if (address_.size() == 4) {
                page_ = RowPage();
                LoadPage();
                pointer_ = areaBase_ + (areaBase_ == kPageData ? (address_[0] & 0x0F) : address_[0]);
                mode_ = Mode::ReadData;
                areaBase_ = 0;
                BeBusy(timing_.pageRead);
            }
            break;
        case Mode::ProgramAddress:
            if (address_.size() == 4) {
                page_ = RowPage();
                pointer_ = areaBase_ + (areaBase_ == kPageData ? (address_[0] & 0x0F) : address_[0]);
                mode_ = Mode::ProgramData;
            }
            break;
        case Mode::IdAddress:
            mode_ = Mode::Id;
            idIndex_ = 0;
            break;
        default:
            break;
    }
}

uint8_t NandFlash::ReadData() {
    switch (mode_) {
        case Mode::Status:
            return kStatusNotProtected | (Ready() ? kStatusReady : 0) | (fail_ ? kStatusFail : 0);
        case Mode::Id:
            return idIndex_ < kIdBytes.size() ? kIdBytes[idIndex_++] : 0;
        case Mode::ReadData:
            if (!Ready() || pointer_ >= kPageRaw) return 0xFF;
            return pageRegister_[pointer_++];
        default:
            return 0xFF;
    }
}

void NandFlash::WriteData(uint8_t byte) {
    if (mode_ == Mode::ProgramData && pointer_ < kPageRaw) pageRegister_[pointer_++] = byte;
}

}  // namespace vsim
