#include "core/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "core/cpu.h"
#include "flash/board_flash.h"

namespace vsim {

namespace {

// Bytes from addr to the end of its 4 KiB page, so that one chunk never straddles
// a page or a RAM/flash window boundary that is page aligned.
size_t ToPageEnd(uint32_t addr) { return SparseMemory::kPageSize - (addr % SparseMemory::kPageSize); }

}  // namespace

Ram::Ram(uint32_t base, size_t size) : base_(base), size_(size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(p);
}

Ram::~Ram() { munmap(data_, size_); }

size_t Ram::Span(uint32_t addr) const {
    uint64_t offset = uint64_t{addr} - base_;
    if (addr < base_ || offset >= size_) return 0;
    return size_ - offset;
}

void SparseMemory::Write(uint32_t addr, const uint8_t* data, size_t n) {
    while (n > 0) {
        size_t chunk = std::min(n, ToPageEnd(addr));
        auto& page = pages_[addr / kPageSize];
        if (!page) page = std::make_unique<Page>(Page{});
        std::memcpy(page->data() + addr % kPageSize, data, chunk);
        addr += static_cast<uint32_t>(chunk);
        data += chunk;
        n -= chunk;
    }
}

void SparseMemory::Read(uint32_t addr, uint8_t* out, size_t n) const {
    while (n > 0) {
        size_t chunk = std::min(n, ToPageEnd(addr));
        auto it = pages_.find(addr / kPageSize);
        if (it == pages_.end())
            std::memset(out, 0, chunk);
        else
            std::memcpy(out, it->second->data() + addr % kPageSize, chunk);
        addr += static_cast<uint32_t>(chunk);
        out += chunk;
        n -= chunk;
    }
}

BusMemory::BusMemory(uint32_t ramBase, size_t ramSize, BoardFlash* flash)
    : ram_(ramBase, ramSize), flash_(flash), uniqueIdBase_(TraitsOf(Cpu::VireoC_TO2).uniqueIdBase) {}

void BusMemory::SetUniqueId(uint32_t base, const std::vector<uint8_t>& id) {
    uniqueIdBase_ = base;
    uniqueId_ = {};
    std::copy_n(id.begin(), std::min(id.size(), kUniqueIdSize), uniqueId_.begin());
}

size_t BusMemory::Load(uint32_t addr, const uint8_t* data, size_t n) {
    size_t refused = 0;
    while (n > 0) {
        size_t chunk;
        if (size_t span = ram_.Span(addr); span > 0) {
            chunk = std::min(n, span);
            std::memcpy(ram_.Data() + (addr - ram_.Base()), data, chunk);
        } else {
            chunk = std::min(n, ToPageEnd(addr));
            if (flash_ && flash_->Claims(addr))
                refused += chunk;
            else if (!InUniqueId(addr))  // fuses are not written by a load
                sparse_.Write(addr, data, chunk);
        }
        addr += static_cast<uint32_t>(chunk);  // the bus wraps at 4 GiB
        data += chunk;
        n -= chunk;
    }
    return refused;
}

void BusMemory::WriteRegister(uint32_t addr, uint32_t value, unsigned bytes) {
    if (flash_ && flash_->Claims(addr)) {
        flash_->BusWrite(addr, value, bytes);
        return;
    }
    if (InUniqueId(addr)) return;  // read-only
    uint8_t le[4];
    for (unsigned i = 0; i < bytes; ++i) le[i] = static_cast<uint8_t>(value >> (8 * i));
    for (unsigned i = 0; i < bytes; ++i) {
        uint32_t a = addr + i;
        if (size_t span = ram_.Span(a); span > 0)
            ram_.Data()[a - ram_.Base()] = le[i];
        else
            sparse_.Write(a, &le[i], 1);
    }
}

void BusMemory::Read(uint32_t addr, uint8_t* out, size_t n, unsigned unit) {
    if (unit != 1 && unit != 2 && unit != 4) unit = 1;
    while (n > 0) {
        size_t chunk;
        if (size_t span = ram_.Span(addr); span > 0) {
            chunk = std::min(n, span);
            std::memcpy(out, ram_.Data() + (addr - ram_.Base()), chunk);
        } else if (InUniqueId(addr)) {
            chunk = std::min(n, ToPageEnd(addr));
            std::memcpy(out, uniqueId_.data() + (addr - uniqueIdBase_), chunk);
        } else if (flash_ && flash_->Claims(addr)) {
            chunk = n >= unit ? unit : 1;
            uint32_t v = flash_->BusRead(addr, static_cast<unsigned>(chunk));
            for (size_t i = 0; i < chunk; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
        } else {
            chunk = std::min(n, ToPageEnd(addr));
            sparse_.Read(addr, out, chunk);
        }
        addr += static_cast<uint32_t>(chunk);
        out += chunk;
        n -= chunk;
    }
}

uint32_t BusMemory::ReadWord(uint32_t addr) {
    uint8_t b[4];
    Read(addr, b, 4, 4);
    return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

}  // namespace vsim
