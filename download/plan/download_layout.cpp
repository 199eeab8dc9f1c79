#include "download/plan/download_layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace sealbench {
namespace {

void PutWord(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

// The download area must be allocated without touching it first: only what is
// read or zeroed becomes resident.
std::unique_ptr<uint8_t[]> Allocate(size_t size) { return std::make_unique_for_overwrite<uint8_t[]>(size); }

}  // namespace

ParameterBlock MakeParameterBlock(const ProcessorPreset& preset, FlashType flashType, uint32_t flashAddress,
                                  uint32_t partitionSize, uint32_t imageSize, int channel) {
    ParameterBlock block;
    block.flashAddress = flashAddress;
    if (flashType == FlashType::Nand && partitionSize != 0) {
        block.lastFlashAddress = flashAddress + partitionSize - 1;
    }
    block.imageRamAddress = preset.ramBase + kImageOffset;
    block.imageSize = imageSize;
    block.channel = channel == 1 ? 1 : 0;
    return block;
}

void WriteParameterBlock(uint8_t* buffer, const ParameterBlock& block) {
    uint8_t* at = buffer + kParameterOffset;
    PutWord(at + 0x00, block.flashAddress);
    PutWord(at + 0x04, block.lastFlashAddress);
    PutWord(at + 0x10, block.imageRamAddress);
    PutWord(at + 0x14, block.flashAddress);
    PutWord(at + 0x18, block.imageSize);
    PutWord(at + 0x1C, block.channel);
}

DownloadBuffer MakeDownloadBuffer(size_t fileSize, bool secure) {
    size_t least = secure ? kCodeOffset + kApplicationHead : kApplicationHead;
    DownloadBuffer buffer;
    buffer.size = std::max(fileSize, least);
    buffer.data = Allocate(buffer.size);
    std::memset(buffer.data.get() + fileSize, 0, buffer.size - std::min(fileSize, buffer.size));
    return buffer;
}

DownloadBuffer MakeFlashingBuffer(size_t imageSize) {
    DownloadBuffer buffer;
    buffer.size = kImageOffset + imageSize;
    buffer.data = Allocate(buffer.size);
    std::memset(buffer.data.get(), 0, kImageOffset);
    return buffer;
}

std::optional<size_t> FileSizeOf(const std::string& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    if (error) {
        return std::nullopt;
    }
    return static_cast<size_t>(size);
}

bool ReadWholeFile(const std::string& path, uint8_t* dest, size_t size) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    size_t got = size == 0 ? 0 : std::fread(dest, 1, size, file.get());
    return got == size;
}

}  // namespace sealbench
