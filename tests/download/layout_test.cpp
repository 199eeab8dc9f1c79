// The parameter block of each flash type, and the buffers.
#include <gtest/gtest.h>

#include <cstring>

#include "download/plan/download_layout.h"

namespace sealbench {
namespace {

uint32_t WordAt(const uint8_t* buffer, size_t offset) {
    return buffer[offset] | buffer[offset + 1] << 8 | buffer[offset + 2] << 16 |
           static_cast<uint32_t>(buffer[offset + 3]) << 24;
}

TEST(ParameterBlock, NorOnVireoC_TO2) {
    uint8_t buffer[0x10000];
    std::memset(buffer, 0xEE, sizeof buffer);
    const ProcessorPreset& preset = PresetOf(ProcessorType::VireoC_TO2);
    WriteParameterBlock(buffer, MakeParameterBlock(preset, FlashType::Nor, 0xA0000000, 0x1234, 0x100000, 0));
    EXPECT_EQ(WordAt(buffer, 0xFFE0), 0xA0000000u);
    EXPECT_EQ(WordAt(buffer, 0xFFE4), 0u);  // a partition size counts for NAND only
    EXPECT_EQ(WordAt(buffer, 0xFFE8), 0xEEEEEEEEu);
    EXPECT_EQ(WordAt(buffer, 0xFFEC), 0xEEEEEEEEu);
    EXPECT_EQ(WordAt(buffer, 0xFFF0), 0x80010000u);
    EXPECT_EQ(WordAt(buffer, 0xFFF4), 0xA0000000u);
    EXPECT_EQ(WordAt(buffer, 0xFFF8), 0x00100000u);
    EXPECT_EQ(WordAt(buffer, 0xFFFC), 0u);
}

TEST(ParameterBlock, NandWithAndWithoutPartition) {
    const ProcessorPreset& preset = PresetOf(ProcessorType::VireoC_TO1);
    ParameterBlock withPartition = MakeParameterBlock(preset, FlashType::Nand, 0, 0x100000, 0x800, 1);
    EXPECT_EQ(withPartition.lastFlashAddress, 0x000FFFFFu);
    EXPECT_EQ(withPartition.channel, 1u);
    ParameterBlock offset = MakeParameterBlock(preset, FlashType::Nand, 0x20000, 0x40000, 0x800, 0);
    EXPECT_EQ(offset.lastFlashAddress, 0x5FFFFu);
    EXPECT_EQ(MakeParameterBlock(preset, FlashType::Nand, 0, 0, 0x800, 0).lastFlashAddress, 0u);
}

TEST(ParameterBlock, UserInputOnVireoB) {
    uint8_t buffer[0x10000] = {};
    WriteParameterBlock(
        buffer, MakeParameterBlock(PresetOf(ProcessorType::VireoB), FlashType::UserInput, 0xC0100000, 0, 0x2345, 1));
    EXPECT_EQ(WordAt(buffer, 0xFFE0), 0xC0100000u);
    EXPECT_EQ(WordAt(buffer, 0xFFF0), 0xA0010000u);
    EXPECT_EQ(WordAt(buffer, 0xFFF4), 0xC0100000u);
    EXPECT_EQ(WordAt(buffer, 0xFFF8), 0x2345u);
    EXPECT_EQ(WordAt(buffer, 0xFFFC), 1u);
}

TEST(Buffers, SizedByTheImage) {
    DownloadBuffer small = MakeDownloadBuffer(10, false);
    EXPECT_EQ(small.size, kApplicationHead);
    EXPECT_EQ(small.data[10], 0);
    EXPECT_EQ(small.data[1023], 0);
    DownloadBuffer combined = MakeDownloadBuffer(0x4010, true);
    EXPECT_EQ(combined.size, 0x4000u + 1024u);
    EXPECT_EQ(combined.data[0x4010], 0);
    EXPECT_EQ(MakeDownloadBuffer(0x200000, false).size, 0x200000u);
    DownloadBuffer flashing = MakeFlashingBuffer(0x1234);
    EXPECT_EQ(flashing.size, 0x10000u + 0x1234u);
    for (size_t i = 0; i < 0x10000; i += 0x111) EXPECT_EQ(flashing.data[i], 0) << i;
}

}  // namespace
}  // namespace sealbench
