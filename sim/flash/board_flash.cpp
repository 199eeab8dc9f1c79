#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

#include "flash/vireo_board_flash.h"

namespace vsim {

namespace {

std::optional<uint32_t> ParseHex(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 8) return std::nullopt;
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

VireoBoardFlash::VireoBoardFlash(Cpu cpu) : map_(MapOf(cpu)) {
    if (map_.nandController != 0) nand_ = std::make_unique<NandFlash>();
}

bool VireoBoardFlash::Claims(uint32_t addr) const { return InNor(addr) || InNandController(addr); }

uint32_t VireoBoardFlash::BusRead(uint32_t addr, unsigned size) {
    std::lock_guard lock(mutex_);
    if (InNandController(addr)) return NandRegisterRead(addr - map_.nandController, size);
    if (!InNor(addr)) return 0;
    const uint32_t offset = addr - map_.norBase;
    if (size == 1) {
        const uint16_t word = nor_.Read16(offset & ~1u);
        return (offset & 1) ? word >> 8 : word & 0xFF;
    }
    if (size == 2) return nor_.Read16(offset & ~1u);
    const uint32_t low = nor_.Read16(offset & ~3u);
    return low | (uint32_t{nor_.Read16((offset & ~3u) + 2)} << 16);
}

void VireoBoardFlash::BusWrite(uint32_t addr, uint32_t value, unsigned size) {
    std::lock_guard lock(mutex_);
    if (InNandController(addr)) {
        const uint64_t before = nand_->Writes();
        NandRegisterWrite(addr - map_.nandController, value, size);
        if (nand_->Writes() != before) last_ = Device::Nand;
        return;
    }
    if (!InNor(addr)) return;
    const uint64_t before = nor_.Writes();
    const uint32_t offset = addr - map_.norBase;
    if (size == 4) {
        nor_.Write16(offset & ~3u, static_cast<uint16_t>(value));
        nor_.Write16((offset & ~3u) + 2, static_cast<uint16_t>(value >> 16));
    } else {
        // A byte write on the x16 bus drives only DQ0-7; commands are written this way too.
        nor_.Write16(offset & ~1u, static_cast<uint16_t>(size == 1 ? value & 0xFF : value));
    }
    if (nor_.Writes() != before) last_ = Device::Nor;
}

uint32_t VireoBoardFlash::NandRegisterRead(uint32_t offset, unsigned size) {
    if (offset == kNandStatus) return nand_->Ready() ? 1u : 0u;
    if (offset != kNandData) return 0;
    uint32_t value = 0;
    for (unsigned i = 0; i < size; ++i) value |= uint32_t{nand_->ReadData()} << (8 * i);
    return value;
}

void VireoBoardFlash::NandRegisterWrite(uint32_t offset, uint32_t value, unsigned size) {
    if (offset == kNandCommand) {
        nand_->Command(static_cast<uint8_t>(value));
    } else if (offset == kNandAddress) {
        nand_->Address(static_cast<uint8_t>(value));
    } else if (offset == kNandData) {
        for (unsigned i = 0; i < size; ++i) nand_->WriteData(static_cast<uint8_t>(value >> (8 * i)));
    }
}

std::vector<uint8_t> VireoBoardFlash::Dump() const {
    std::lock_guard lock(mutex_);
    if (last_ == Device::Nand && nand_) {
        std::vector<uint8_t> data(NandFlash::kSize);
        nand_->CopyOut(data.data());
        return data;
    }
    std::vector<uint8_t> data(NorFlash::kSize);
    nor_.CopyOut(data.data());
    return data;
}

void VireoBoardFlash::HoldBusy(bool hold) {
    std::lock_guard lock(mutex_);
    nor_.Hold(hold);
    if (nand_) nand_->Hold(hold);
}

bool VireoBoardFlash::AddFault(const std::string& spec, std::string* error) {
    auto fail = [&](const std::string& text) {
        if (error) *error = text;
        return false;
    };
    const std::string_view text(spec);
    const size_t colon = text.find(':');
    const std::string_view kind = text.substr(0, colon);
    if (kind != "erase-stuck" && kind != "program-stuck" && kind != "bit-flip" && kind != "bad-block")
        return fail("unknown fault '" + spec + "'");
    if (colon == std::string_view::npos)
        return fail("fault '" + spec + "' needs an address, as in " + std::string(kind) + ":ADDR");
    std::string_view rest = text.substr(colon + 1);
    unsigned bit = 0;
    if (kind == "bit-flip") {
        const size_t second = rest.find(':');
        if (second == std::string_view::npos)
            return fail("fault '" + spec + "' needs a bit number, as in bit-flip:ADDR:BIT");
        const std::string_view bitText = rest.substr(second + 1);
        const auto [end, ec] = std::from_chars(bitText.data(), bitText.data() + bitText.size(), bit);
        if (ec != std::errc() || end != bitText.data() + bitText.size() || bit > 7)
            return fail("fault '" + spec + "': the bit must be 0 to 7");
        rest = rest.substr(0, second);
    }
    const auto addr = ParseHex(rest);
    if (!addr) return fail("fault '" + spec + "': '" + std::string(rest) + "' is not a hexadecimal address");

    std::lock_guard lock(mutex_);
    if (InNor(*addr) && kind != "bad-block") {
        const uint32_t offset = *addr - map_.norBase;
        if (kind == "erase-stuck")
            nor_.AddEraseStuck(offset);
        else if (kind == "program-stuck")
            nor_.AddProgramStuck(offset);
        else
            nor_.AddBitFlip(offset, bit);
        return true;
    }
    if (nand_ && *addr < NandFlash::kSize) {
        if (kind == "erase-stuck")
            nand_->AddEraseStuck(*addr);
        else if (kind == "program-stuck")
            nand_->AddProgramStuck(*addr);
        else if (kind == "bit-flip")
            nand_->AddBitFlip(*addr, bit);
        else
            nand_->MarkBad(*addr);
        return true;
    }
    std::string where = "the NOR flash (" + Hex(map_.norBase) + " to " + Hex(map_.norBase + map_.norSize - 1) + ")";
    if (kind == "bad-block")
        where = "a NAND offset";
    else if (nand_)
        where += " nor a NAND offset below " + Hex(NandFlash::kSize);
    return fail("fault '" + spec + "': " + Hex(*addr) + " is not in " + where);
}

std::unique_ptr<BoardFlash> MakeBoardFlash(Cpu cpu) { return std::make_unique<VireoBoardFlash>(cpu); }

}  // namespace vsim
