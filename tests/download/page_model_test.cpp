// The download page's control logic, click by click.
#include "download/page/page_model.h"

#include <gtest/gtest.h>

namespace sealbench {
namespace {

TEST(PageModel, InitialState) {
    PageModel m;
    const PageControls& c = m.controls();
    EXPECT_TRUE(c.downloadOnly);
    EXPECT_FALSE(c.flashing);
    EXPECT_TRUE(c.ddr);
    EXPECT_TRUE(c.defaultBox);
    EXPECT_EQ(c.defaultCaption, "RAM Appl Start at 0x80004000");
    EXPECT_EQ(c.addressLabel, "RAM Appl Start at 0x");
    EXPECT_EQ(c.flashTypeIndex, 0);
    EXPECT_FALSE(c.flashTypeEnabled);
    EXPECT_FALSE(c.addressEnabled);
    EXPECT_FALSE(c.partitionEnabled);
    EXPECT_FALSE(c.flashLibEnabled);
    EXPECT_FALSE(c.memoryInitEnabled);
    EXPECT_EQ(m.flashType(), FlashType::None);
}

TEST(PageModel, FlashingBeforeTouchingTheListIsNor) {
    PageModel m;
    m.SelectProcessor(1);
    m.ClickFlashing();
    EXPECT_EQ(m.flashType(), FlashType::Nor);
    EXPECT_FALSE(m.controls().downloadOnly);
    EXPECT_TRUE(m.controls().flashTypeEnabled);
    EXPECT_EQ(m.controls().defaultCaption, "Flash Start at 0xA0000000");
    EXPECT_EQ(m.controls().addressLabel, "Flash Start at 0x");
    RunSettings s = m.Settings();
    EXPECT_EQ(s.operation, OperationType::Flashing);
    EXPECT_EQ(s.flashType, FlashType::Nor);
    EXPECT_EQ(s.processor, ProcessorType::VireoC_TO1);
}

TEST(PageModel, UserInputThenNor) {
    PageModel m;
    m.SelectProcessor(0);
    m.ClickFlashing();
    m.SelectFlashType(2);
    const PageControls& c = m.controls();
    EXPECT_FALSE(c.defaultBox);
    EXPECT_FALSE(c.defaultBoxEnabled);
    EXPECT_TRUE(c.flashLibEnabled);
    EXPECT_TRUE(c.addressEnabled);
    EXPECT_EQ(c.defaultCaption, "No default!");
    EXPECT_EQ(m.flashType(), FlashType::UserInput);

    m.SelectFlashType(0);
    EXPECT_TRUE(c.defaultBox);
    EXPECT_TRUE(c.defaultBoxEnabled);
    EXPECT_FALSE(c.flashLibEnabled);
    EXPECT_FALSE(c.addressEnabled);
    EXPECT_EQ(c.defaultCaption, "Flash Start at 0xC0000000");
}

TEST(PageModel, NandEnablesThePartitionField) {
    PageModel m;
    m.SelectProcessor(2);
    m.ClickFlashing();
    m.SelectFlashType(1);
    EXPECT_TRUE(m.controls().partitionEnabled);
    EXPECT_EQ(m.controls().defaultCaption, "Flash offset 0x00000000");
    EXPECT_EQ(m.controls().addressLabel, "Flash offset 0x");
    m.SelectFlashType(-1);  // no selection: nothing changes
    EXPECT_TRUE(m.controls().partitionEnabled);
    EXPECT_EQ(m.flashType(), FlashType::Nand);
}

TEST(PageModel, VireoBWithNandShowsTheNandCaptions) {
    PageModel m;
    m.ClickFlashing();
    m.SelectFlashType(1);
    m.SelectProcessor(0);
    EXPECT_EQ(m.controls().defaultCaption, "Flash offset 0x00000000");
    EXPECT_FALSE(m.controls().sdramEnabled);
}

TEST(PageModel, ProcessorCaptionWinsUntilFlashingIsUsedAgain) {
    PageModel m;
    m.SelectProcessor(1);
    m.ClickFlashing();
    m.SelectProcessor(0);
    EXPECT_EQ(m.controls().defaultCaption, "RAM Appl Start at 0xA0004000");
    m.ClickFlashing();  // unchecks
    m.ClickFlashing();  // checks again
    EXPECT_EQ(m.controls().defaultCaption, "Flash Start at 0xC0000000");
}

TEST(PageModel, SecureLocksTheAddressForNor) {
    PageModel m;
    m.SelectProcessor(1);
    m.ClickFlashing();
    m.ClickDefaultBox();  // unchecked: field open
    EXPECT_TRUE(m.controls().addressEnabled);
    m.ClickSecure();
    EXPECT_TRUE(m.controls().defaultBox);
    EXPECT_FALSE(m.controls().addressEnabled);
    m.ClickDefaultBox();  // unchecked again: the field stays locked
    EXPECT_FALSE(m.controls().defaultBox);
    EXPECT_FALSE(m.controls().addressEnabled);
    m.ClickSecure();  // off: the field opens
    EXPECT_TRUE(m.controls().addressEnabled);
}

TEST(PageModel, SecureWithUserInputKeepsTheFieldOpen) {
    PageModel m;
    m.ClickFlashing();
    m.SelectFlashType(2);
    m.ClickSecure();
    EXPECT_TRUE(m.controls().addressEnabled);
    EXPECT_FALSE(m.controls().defaultBox);
}

TEST(PageModel, DownloadOnlyResetsTheAddress) {
    PageModel m;
    m.SelectProcessor(0);
    m.ClickFlashing();
    m.SelectFlashType(2);
    m.fields().addressText = "C0001000";
    m.ClickDownloadOnly();
    const PageControls& c = m.controls();
    EXPECT_TRUE(c.downloadOnly);
    EXPECT_FALSE(c.flashing);
    EXPECT_TRUE(c.defaultBox);
    EXPECT_TRUE(c.defaultBoxEnabled);
    EXPECT_TRUE(c.addressText.empty());
    EXPECT_FALSE(c.addressEnabled);
    EXPECT_FALSE(c.flashTypeEnabled);
    EXPECT_EQ(c.defaultCaption, "RAM Appl Start at 0xA0004000");
    EXPECT_EQ(c.addressLabel, "RAM Appl Start at 0x");
    m.ClickDownloadOnly();  // unchecked: neither operation
    EXPECT_EQ(m.Settings().operation, OperationType::None);
}

TEST(PageModel, DefaultBoxClearsTheAddress) {
    PageModel m;
    m.ClickDefaultBox();
    EXPECT_TRUE(m.controls().addressEnabled);
    m.fields().addressText = "80008000";
    EXPECT_FALSE(m.Settings().useDefaultAddress);
    EXPECT_EQ(m.Settings().addressText, "80008000");
    m.ClickDefaultBox();
    EXPECT_TRUE(m.controls().addressText.empty());
    EXPECT_FALSE(m.controls().addressEnabled);
}

TEST(PageModel, MemoryInitBoxesExcludeEachOther) {
    PageModel m;
    m.ClickSdram();
    EXPECT_TRUE(m.controls().sdram);
    EXPECT_FALSE(m.controls().ddr);
    EXPECT_FALSE(m.controls().memoryInitEnabled);
    m.ClickSdram();
    EXPECT_TRUE(m.controls().memoryInitEnabled);
    m.ChooseMemoryInitFile("/tmp/init.txt");
    RunSettings s = m.Settings();
    EXPECT_FALSE(s.memoryInit.ddr);
    EXPECT_FALSE(s.memoryInit.sdram);
    EXPECT_EQ(s.memoryInit.scriptPath, "/tmp/init.txt");
    m.ClickDdr();
    EXPECT_FALSE(m.controls().memoryInitEnabled);
}

TEST(PageModel, BrowseConfirmsTheListSelection) {
    PageModel m;
    m.fields().flashTypeIndex = 1;  // the list moved without its handler
    m.ClickFlashing();
    EXPECT_EQ(m.flashType(), FlashType::Nor);
    m.ClickFlashing();
    m.ChooseImage("/tmp/image.bin");
    m.ClickFlashing();
    EXPECT_EQ(m.flashType(), FlashType::Nand);
}

TEST(PortChoice, NeedsAProcessorFirst) {
    PortChoice none = ChoosePort(3, ProcessorType::None);
    EXPECT_FALSE(none.open);
    EXPECT_EQ(none.message, "Please select the Vireo version");
    EXPECT_TRUE(none.resetToEmpty);

    PortChoice to1 = ChoosePort(3, ProcessorType::VireoC_TO1);
    EXPECT_TRUE(to1.open);
    EXPECT_EQ(to1.portText, "3");
    EXPECT_EQ(to1.lineMode, 0);
    EXPECT_EQ(ChoosePort(3, ProcessorType::VireoB).lineMode, 1);
    EXPECT_EQ(ChoosePort(3, ProcessorType::VireoC_TO2).lineMode, 1);
    EXPECT_TRUE(ChoosePort(-1, ProcessorType::VireoB).resetToEmpty);
}

}  // namespace
}  // namespace sealbench
