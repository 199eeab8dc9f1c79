// Fuzz target of the flash libraries' streaming session (flashlib/src/fl_stream*.c,
// fl_range.c and the NOR and NAND devices), compiled for the host: whatever the
// host sends (frames of every kind with good CRCs, and noise between them), the
// session must stay inside the board's RAM and its own buffers, and end by
// itself once the host falls silent. The flash is the board's real NOR and NAND
// models, with their times set to zero.
//
// Input: one byte of settings (bit 0: the NAND library; bit 1: a parameter block
// image of up to 64 KiB), then records: a byte whose bit 0 says what follows. 0:
// a frame, as kind, sequence number (2 bytes), argument (4), payload length (2),
// then the payload, sent with its CRC; 1: a length byte and that many raw bytes.
#include <sys/mman.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fl_core.h"
#include "fl_hal.h"
#include "flash/vireo_board_flash.h"

namespace {

constexpr uint32_t kRamBase = 0x80000000;
constexpr uint32_t kRamSize = 0x04000000;
constexpr uint32_t kUart = 0xB8009000;
constexpr uint32_t kUsb = 0xB800A000;
constexpr uint32_t kSysctl = 0xB800B000;
constexpr uint32_t kQuietStepUs = 100000;  // once the host is silent, time runs fast

struct Bus {
    uint8_t* ram = nullptr;
    vsim::VireoBoardFlash* flash = nullptr;
    std::vector<uint8_t> line;
    size_t at = 0;
    uint32_t now = 0;
};

Bus* gBus = nullptr;

void Put32(std::vector<uint8_t>* to, uint32_t value) {
    for (int i = 0; i < 4; ++i) to->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t Read(uint32_t addr, unsigned size) {
    Bus& bus = *gBus;
    if (addr == kUart) return bus.at < bus.line.size() ? bus.line[bus.at++] : 0;
    if (addr == kUart + 4) return (bus.at < bus.line.size() ? 1u : 0u) | 2u | 4u;
    if (addr == kSysctl + 4) return bus.now += bus.at < bus.line.size() ? 1 : kQuietStepUs;
    if (bus.flash->Claims(addr)) return bus.flash->BusRead(addr, size);
    return 0;
}

void Write(uint32_t addr, uint32_t value, unsigned size) {
    Bus& bus = *gBus;
    if (addr == kSysctl + 0x0C) bus.now += 1000;  // waiting for the host
    if (bus.flash->Claims(addr)) bus.flash->BusWrite(addr, value, size);
}

std::vector<uint8_t> Line(const uint8_t* data, size_t size) {
    std::vector<uint8_t> line;
    size_t at = 0;
    while (at < size) {
        const uint8_t record = data[at++];
        if (record & 1) {
            if (at == size) break;
            const size_t n = std::min<size_t>(data[at], size - at - 1);
            ++at;
            line.insert(line.end(), data + at, data + at + n);
            at += n;
            continue;
        }
        if (size - at < 9) break;
        const uint8_t* h = data + at;
        const size_t length = std::min<size_t>(h[7] | h[8] << 8, size - at - 9);
        std::vector<uint8_t> frame = {0xF5, h[0], h[1], h[2]};
        Put32(&frame, static_cast<uint32_t>(length));
        frame.insert(frame.end(), h + 3, h + 7);
        frame.insert(frame.end(), h + 9, h + 9 + length);
        Put32(&frame, static_cast<uint32_t>(crc32(0, frame.data(), static_cast<uInt>(frame.size()))));
        line.insert(line.end(), frame.begin(), frame.end());
        at += 9 + length;
    }
    return line;
}

}  // namespace

extern "C" {
uint8_t fl_read8(uint32_t addr) { return static_cast<uint8_t>(Read(addr, 1)); }
uint16_t fl_read16(uint32_t addr) { return static_cast<uint16_t>(Read(addr, 2)); }
uint32_t fl_read32(uint32_t addr) { return Read(addr, 4); }
void fl_write16(uint32_t addr, uint16_t value) { Write(addr, value, 2); }
void fl_write32(uint32_t addr, uint32_t value) { Write(addr, value, 4); }
uint8_t* fl_ram(uint32_t addr) { return gBus->ram + (addr - kRamBase); }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    void* ram = mmap(nullptr, kRamSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (ram == MAP_FAILED) return 0;
    vsim::VireoBoardFlash flash(vsim::Cpu::VireoC_TO2);
    flash.Nor().SetTiming({{}, {}, {}});
    flash.Nand()->SetTiming({{}, {}, {}});
    Bus bus;
    bus.ram = static_cast<uint8_t*>(ram);
    bus.flash = &flash;
    bus.line = Line(data + 3, size - 3);
    gBus = &bus;

    const bool nand = data[0] & 1;
    const uint32_t image = (data[0] & 2) ? (data[1] | data[2] << 8) : 0;
    const uint32_t params[8] = {nand ? 0u : 0xA0000000u, 0,     0x5354524D, 0, kRamBase + 0x10000,
                                nand ? 0u : 0xA0000000u, image, 0};
    std::memcpy(bus.ram + 0xFFE0, params, sizeof params);
    const fl_board board = {kRamBase, kRamSize, 0xA0000000, 0x02000000, 0xB8008000, kUart, kUsb, kSysctl};
    fl_main(&board, nand ? fl_nand_run : fl_nor_run);

    gBus = nullptr;
    munmap(ram, kRamSize);
    return 0;
}
