// The flash devices of a Vireo board behind the BoardFlash interface: the NOR part
// on every board, the NAND device and its controller on VireoC. Tests reach the
// devices themselves through this class.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "flash/board_flash.h"
#include "flash/board_map.h"
#include "flash/nand_flash.h"
#include "flash/nor_flash.h"

namespace vsim {

class VireoBoardFlash : public BoardFlash {
public:
    explicit VireoBoardFlash(Cpu cpu);

    bool Claims(uint32_t addr) const override;
    uint32_t BusRead(uint32_t addr, unsigned size) override;
    void BusWrite(uint32_t addr, uint32_t value, unsigned size) override;
    std::vector<uint8_t> Dump() const override;
    bool AddFault(const std::string& spec, std::string* error) override;

    // While held, started erases and programs stay busy on both devices.
    void HoldBusy(bool hold);

    // Direct access for tests; not synchronised with a running program.
    NorFlash& Nor() { return nor_; }
    NandFlash* Nand() { return nand_.get(); }
    const BoardMap& Map() const { return map_; }

private:
    enum class Device { Nor, Nand };

    bool InNor(uint32_t addr) const { return addr - map_.norBase < map_.norSize; }
    bool InNandController(uint32_t addr) const { return nand_ && addr - map_.nandController < kPeripheralWindow; }
    uint32_t NandRegisterRead(uint32_t offset, unsigned size);
    void NandRegisterWrite(uint32_t offset, uint32_t value, unsigned size);

    BoardMap map_;
    mutable std::mutex mutex_;
    NorFlash nor_;
    std::unique_ptr<NandFlash> nand_;
    Device last_ = Device::Nor;
};

}  // namespace vsim
