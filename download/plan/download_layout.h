// Where a run puts things: the windows of a combined image, the flash library
// area with its parameter block, the image behind it, and the hexadecimal
// fields of the page. Pure functions, no link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "download/plan/presets.h"

namespace sealbench {

// Offsets from the RAM base, equal to offsets in the download buffer.
inline constexpr uint32_t kHwcOffset = 0x1010;
inline constexpr uint32_t kHwcSize = 0x1F0;
inline constexpr uint32_t kCsfOffset = 0x1200;
inline constexpr uint32_t kCsfSize = 0x2E00;
inline constexpr uint32_t kCodeOffset = 0x4000;       // flash library code, default RAM application
inline constexpr uint32_t kParameterOffset = 0xFFE0;  // last 32 bytes of the flash library area
inline constexpr uint32_t kImageOffset = 0x10000;     // image to be flashed

inline constexpr size_t kMaxImageSize = 0x2000000;     // what the boot ROM's download area holds
inline constexpr size_t kFlashLibraryLimit = 0x10000;  // a flash library must be smaller
inline constexpr size_t kApplicationHead = 1024;       // sent again after the last piece

// The block the flash library reads at RAM base + 0xFFE0.
struct ParameterBlock {
    uint32_t flashAddress = 0;      // start address (NOR, USER INPUT) or offset (NAND)
    uint32_t lastFlashAddress = 0;  // NAND with a partition size, else 0
    uint32_t imageRamAddress = 0;   // RAM base + 0x10000
    uint32_t imageSize = 0;
    uint32_t channel = 0;  // where the flash library reports: 1 USB, 0 serial
};

ParameterBlock MakeParameterBlock(const ProcessorPreset& preset, FlashType flashType, uint32_t flashAddress,
                                  uint32_t partitionSize, uint32_t imageSize, int channel);

// Writes the block's eight little-endian words at `buffer + kParameterOffset`;
// the words at 0xFFE8 and 0xFFEC are left as they are.
void WriteParameterBlock(uint8_t* buffer, const ParameterBlock& block);

// A heap buffer of exactly the size a run needs.
struct DownloadBuffer {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
};

// The buffer of a DOWNLOAD only run: the file at offset 0, zeros after it up to
// what the application header resends.
DownloadBuffer MakeDownloadBuffer(size_t fileSize, bool secure);
// The buffer of a FLASHING run: a zeroed flash library area, the image at 0x10000.
DownloadBuffer MakeFlashingBuffer(size_t imageSize);

// The size of a file, nullopt when the file system cannot tell.
std::optional<size_t> FileSizeOf(const std::string& path);

// Reads exactly `size` bytes of the file to dest. False when the file cannot be
// opened or does not hold that many bytes.
bool ReadWholeFile(const std::string& path, uint8_t* dest, size_t size);

}  // namespace sealbench
