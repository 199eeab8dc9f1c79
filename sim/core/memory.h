// The board's address space as its boot ROM reaches it: 64 MiB of RAM from the
// processor's RAM base, the flash devices' windows, and a sparse store for every
// other address (the memory-controller and peripheral registers a memory-init
// preset writes). Bus accesses are little-endian like the Vireo cores.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace vsim {

class BoardFlash;

// Anonymous pages that the kernel hands out zeroed and only on first touch, so an
// idle board does not hold 64 MiB.
class Ram {
public:
    Ram(uint32_t base, size_t size);
    ~Ram();
    Ram(const Ram&) = delete;
    Ram& operator=(const Ram&) = delete;

    uint32_t Base() const { return base_; }
    size_t Size() const { return size_; }
    uint8_t* Data() { return data_; }
    const uint8_t* Data() const { return data_; }
    // Bytes of RAM from addr on (0 when addr lies outside).
    size_t Span(uint32_t addr) const;

private:
    uint32_t base_;
    size_t size_;
    uint8_t* data_;
};

// 4 KiB pages created on first write; unwritten bytes read as zero.
class SparseMemory {
public:
    static constexpr uint32_t kPageSize = 4096;

    void Write(uint32_t addr, const uint8_t* data, size_t n);
    void Read(uint32_t addr, uint8_t* out, size_t n) const;
    size_t PageCount() const { return pages_.size(); }

private:
    using Page = std::array<uint8_t, kPageSize>;
    std::unordered_map<uint32_t, std::unique_ptr<Page>> pages_;
};

class BusMemory {
public:
    BusMemory(uint32_t ramBase, size_t ramSize, BoardFlash* flash);

    // The unique-ID block: one read-only 4 KiB page at `base` whose first bytes are
    // `id` (at most 64) and the rest zero. Writes and loads there change nothing.
    void SetUniqueId(uint32_t base, const std::vector<uint8_t>& id);

    // A write-file payload. Bytes aimed at a flash window are not written (flash
    // takes only its command sequences); the count of such bytes is returned.
    size_t Load(uint32_t addr, const uint8_t* data, size_t n);
    // One register write of 1, 2 or 4 bytes.
    void WriteRegister(uint32_t addr, uint32_t value, unsigned bytes);
    // n bytes from addr; flash windows are read in accesses of `unit` bytes (1, 2 or 4)
    // because a controller's data register answers differently to byte and word reads.
    void Read(uint32_t addr, uint8_t* out, size_t n, unsigned unit);
    uint32_t ReadWord(uint32_t addr);

    Ram& RamArea() { return ram_; }
    const SparseMemory& Registers() const { return sparse_; }

private:
    bool InUniqueId(uint32_t addr) const { return addr - uniqueIdBase_ < SparseMemory::kPageSize; }

    Ram ram_;
    SparseMemory sparse_;
    BoardFlash* flash_;
    uint32_t uniqueIdBase_ = 0;
    std::array<uint8_t, SparseMemory::kPageSize> uniqueId_{};
};

}  // namespace vsim
