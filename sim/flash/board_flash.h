// The flash devices of one virtual board, as its CPU sees them on the bus and as
// --dump-flash writes them out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/program.h"

namespace vsim {

class BoardFlash {
public:
    virtual ~BoardFlash() = default;
    // True when addr falls inside a flash device's window (or its controller's registers).
    virtual bool Claims(uint32_t addr) const = 0;
    // Bus accesses of 1, 2 or 4 bytes at an absolute address that Claims() accepted.
    virtual uint32_t BusRead(uint32_t addr, unsigned size) = 0;
    virtual void BusWrite(uint32_t addr, uint32_t value, unsigned size) = 0;
    // The contents of the device a flash program wrote last (NOR when none was written):
    // NOR as the whole array from its first byte, NAND as the data area of its pages in order.
    virtual std::vector<uint8_t> Dump() const = 0;
    // Applies a flash fault given on the command line ("erase-stuck:...", ...); false and a
    // message when the text is not one of the board's flash faults.
    virtual bool AddFault(const std::string& spec, std::string* error) = 0;
};

std::unique_ptr<BoardFlash> MakeBoardFlash(Cpu cpu);

}  // namespace vsim
