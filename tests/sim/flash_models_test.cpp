// The flash devices as a program sees them on the bus: command sequences, status
// bits, sector map, bad-block marks and the faults the board can be given.
#include <gtest/gtest.h>

#include "flash/vireo_board_flash.h"

namespace vsim {
namespace {

class NorBus : public ::testing::Test {
protected:
    NorBus() : flash_(Cpu::VireoC_TO1), base_(flash_.Map().norBase) {}

    uint16_t Read(uint32_t offset) { return static_cast<uint16_t>(flash_.BusRead(base_ + offset, 2)); }
    void Write(uint32_t offset, uint16_t value) { flash_.BusWrite(base_ + offset, value, 2); }
    void Command(uint32_t word, uint16_t value) { Write(word * 2, value); }
    void Unlock() {
        Command(0x555, 0xAA);
        Command(0x2AA, 0x55);
    }
    void Program(uint32_t offset, uint16_t value) {
        Unlock();
        Command(0x555, 0xA0);
        Write(offset, value);
    }
    void EraseSector(uint32_t offset) {
        Unlock();
        Command(0x555, 0x80);
        Unlock();
        Write(offset, 0x30);
    }
    // Polls like a driver: true when the operation ended, false when DQ5 reported it stuck.
    bool WaitDone(uint32_t offset) {
        for (int i = 0; i < 10000000; ++i) {
            const uint16_t first = Read(offset);
            const uint16_t second = Read(offset);
            if (!((first ^ second) & 0x40)) return true;
            // DQ5 may be data that arrived between the two reads: look once more.
            if ((second & 0x20) && ((Read(offset) ^ Read(offset)) & 0x40)) {
                Write(0, 0xF0);
                return false;
            }
        }
        ADD_FAILURE() << "the part stayed busy";
        return false;
    }

    VireoBoardFlash flash_;
    uint32_t base_;
};

TEST_F(NorBus, CfiQueryDescribesThePartAndResetLeavesIt) {
    Command(0x55, 0x98);
    EXPECT_EQ(Read(0x10 * 2), 'Q');
    EXPECT_EQ(Read(0x11 * 2), 'R');
    EXPECT_EQ(Read(0x12 * 2), 'Y');
    EXPECT_EQ(Read(0x13 * 2), 0x02);  // AMD command set
    EXPECT_EQ(Read(0x27 * 2), 25);    // 32 MiB
    EXPECT_EQ(Read(0x28 * 2), 0x01);  // x16
    ASSERT_EQ(Read(0x2C * 2), 3);
    // Regions: 4 x 32 KiB, 254 x 128 KiB, 4 x 32 KiB.
    const uint16_t expected[12] = {3, 0, 0x80, 0, 253, 0, 0, 2, 3, 0, 0x80, 0};
    for (unsigned i = 0; i < 12; ++i)
        EXPECT_EQ(Read((0x2D + i) * 2), expected[i]) << "CFI word 0x" << std::hex << 0x2D + i;
    Write(0, 0xF0);
    EXPECT_EQ(Read(0x20), 0xFFFF);
}

TEST_F(NorBus, SectorMapHasSmallSectorsAtBothEnds) {
    EXPECT_EQ(NorFlash::SectorExtent(0), std::make_pair(0u, 0x8000u));
    EXPECT_EQ(NorFlash::SectorExtent(3), std::make_pair(0x18000u, 0x8000u));
    EXPECT_EQ(NorFlash::SectorExtent(4), std::make_pair(0x20000u, 0x20000u));
    EXPECT_EQ(NorFlash::SectorExtent(257), std::make_pair(0x1FC0000u, 0x20000u));
    EXPECT_EQ(NorFlash::SectorExtent(258), std::make_pair(0x1FE0000u, 0x8000u));
    EXPECT_EQ(NorFlash::SectorExtent(261), std::make_pair(0x1FF8000u, 0x8000u));
    EXPECT_EQ(NorFlash::SectorOf(0x1FFFF), 3u);
    EXPECT_EQ(NorFlash::SectorOf(0x20000), 4u);
    EXPECT_EQ(NorFlash::SectorOf(0x1FDFFFF), 257u);
    EXPECT_EQ(NorFlash::SectorOf(0x1FFFFFF), 261u);
}

TEST_F(NorBus, ProgramShowsToggleWhileBusyThenTheData) {
    flash_.HoldBusy(true);
    Program(0x100, 0x1234);
    const uint16_t first = Read(0x100);
    const uint16_t second = Read(0x100);
    EXPECT_NE(first & 0x40, second & 0x40) << "DQ6 toggles while busy";
    EXPECT_EQ(first & 0x80, (~0x1234) & 0x80) << "DQ7 shows the complement of the data";
    Write(0x100, 0x0000);  // ignored while busy
    flash_.HoldBusy(false);
    ASSERT_TRUE(WaitDone(0x100));
    EXPECT_EQ(Read(0x100), 0x1234);
    EXPECT_EQ(flash_.BusRead(base_ + 0x100, 4), 0xFFFF1234u);
    EXPECT_EQ(flash_.BusRead(base_ + 0x101, 1), 0x12u);
}

TEST_F(NorBus, ProgrammingCannotRaiseBitsAndTimesOutWithDq5) {
    Program(0x10, 0x00FF);
    ASSERT_TRUE(WaitDone(0x10));
    Program(0x10, 0xFF00);
    EXPECT_FALSE(WaitDone(0x10));
    EXPECT_EQ(Read(0x10), 0x0000) << "the bits that could go to 0 did";
}

TEST_F(NorBus, UnlockBypassProgramsWithTwoCyclesUntilLeft) {
    Unlock();
    Command(0x555, 0x20);
    Write(0x0, 0xA0);
    Write(0x300, 0x1111);
    ASSERT_TRUE(WaitDone(0x300));
    Write(0x0, 0xA0);
    Write(0x302, 0x2222);
    ASSERT_TRUE(WaitDone(0x302));
    Write(0x0, 0x90);
    Write(0x0, 0x00);
    Write(0x0, 0xA0);
    Write(0x304, 0x3333);
    EXPECT_EQ(Read(0x300), 0x1111);
    EXPECT_EQ(Read(0x302), 0x2222);
    EXPECT_EQ(Read(0x304), 0xFFFF) << "after leaving bypass a program needs its unlock cycles again";
}

TEST_F(NorBus, BrokenUnlockSequenceProgramsNothing) {
    Command(0x555, 0xAA);
    Command(0x2AB, 0x55);
    Command(0x555, 0xA0);
    Write(0x40, 0x0000);
    EXPECT_EQ(Read(0x40), 0xFFFF);
}

TEST_F(NorBus, SectorEraseClearsExactlyOneSector) {
    for (uint32_t offset : {0x17FFEu, 0x18000u, 0x1FFFEu, 0x20000u}) {
        Program(offset, 0x0000);
        ASSERT_TRUE(WaitDone(offset));
    }
    EraseSector(0x18100);
    ASSERT_TRUE(WaitDone(0x18000));
    EXPECT_EQ(Read(0x17FFE), 0x0000);
    EXPECT_EQ(Read(0x18000), 0xFFFF);
    EXPECT_EQ(Read(0x1FFFE), 0xFFFF);
    EXPECT_EQ(Read(0x20000), 0x0000);
}

TEST_F(NorBus, FaultsStickEraseAndProgramAndFlipReadBits) {
    std::string error;
    ASSERT_TRUE(flash_.AddFault("erase-stuck:0xA0020000", &error)) << error;
    ASSERT_TRUE(flash_.AddFault("program-stuck:A0000101", &error)) << error;
    ASSERT_TRUE(flash_.AddFault("bit-flip:0xA0000201:3", &error)) << error;

    Program(0x20000, 0x0000);
    ASSERT_TRUE(WaitDone(0x20000));
    EraseSector(0x20000);
    EXPECT_FALSE(WaitDone(0x20000));
    EXPECT_EQ(Read(0x20000), 0x0000) << "the stuck sector kept its data";

    Program(0x100, 0x5555);
    EXPECT_FALSE(WaitDone(0x100));
    EXPECT_EQ(Read(0x100), 0xFFFF);

    EXPECT_EQ(Read(0x200), 0xF7FF) << "bit 3 of the byte at 0x201 reads inverted";
    EXPECT_EQ(flash_.Nor().Peek(0x201), 0xFF) << "but the array holds the true value";
}

TEST(BoardFlashFaults, RefusesWhatIsNotAFlashFault) {
    VireoBoardFlash c(Cpu::VireoC_TO2);
    VireoBoardFlash b(Cpu::VireoB);
    std::string error;
    EXPECT_FALSE(c.AddFault("silence:5", &error));
    EXPECT_NE(error.find("unknown fault"), std::string::npos) << error;
    EXPECT_FALSE(c.AddFault("erase-stuck", &error));
    EXPECT_FALSE(c.AddFault("erase-stuck:xyz", &error));
    EXPECT_FALSE(c.AddFault("erase-stuck:123456789", &error));
    EXPECT_FALSE(c.AddFault("bit-flip:A0000000", &error));
    EXPECT_FALSE(c.AddFault("bit-flip:A0000000:8", &error));
    EXPECT_FALSE(c.AddFault("program-stuck:0x90000000", &error));
    EXPECT_NE(error.find("0x90000000"), std::string::npos) << error;
    // VireoB has no NAND: a small address is nowhere; its NOR lives at 0xC0000000.
    EXPECT_FALSE(b.AddFault("erase-stuck:0x4000", &error));
    EXPECT_FALSE(b.AddFault("bad-block:0x4000", &error));
    EXPECT_TRUE(b.AddFault("erase-stuck:0xC0000000", &error)) << error;
    EXPECT_TRUE(c.AddFault("bad-block:0x8000", &error)) << error;
}

class NandBus : public ::testing::Test {
protected:
    NandBus() : flash_(Cpu::VireoC_TO2), regs_(flash_.Map().nandController) {}

    void Command(uint8_t command) { flash_.BusWrite(regs_ + kNandCommand, command, 4); }
    void Address(uint8_t byte) { flash_.BusWrite(regs_ + kNandAddress, byte, 4); }
    uint8_t Data() { return static_cast<uint8_t>(flash_.BusRead(regs_ + kNandData, 1)); }
    void Row(uint32_t page) {
        Address(static_cast<uint8_t>(page));
        Address(static_cast<uint8_t>(page >> 8));
        Address(static_cast<uint8_t>(page >> 16));
    }
    void WaitReady() {
        for (int i = 0; i < 10000000; ++i) {
            if (flash_.BusRead(regs_ + kNandStatus, 4) & 1) return;
        }
        ADD_FAILURE() << "the device stayed busy";
    }
    uint8_t StatusAfterWork() {
        WaitReady();
        Command(0x70);
        return Data();
    }
    uint8_t ReadByte(uint8_t pointerCommand, uint8_t column, uint32_t page) {
        Command(pointerCommand);
        Address(column);
        Row(page);
        WaitReady();
        return Data();
    }
    uint8_t ProgramPage(uint32_t page, uint8_t fill) {
        Command(0x00);
        Command(0x80);
        Address(0);
        Row(page);
        for (int i = 0; i < 128; ++i) flash_.BusWrite(regs_ + kNandData, fill * 0x01010101u, 4);
        Command(0x10);
        return StatusAfterWork();
    }
    uint8_t EraseBlock(uint32_t block) {
        Command(0x60);
        Row(block * NandFlash::kPagesPerBlock);
        Command(0xD0);
        return StatusAfterWork();
    }

    VireoBoardFlash flash_;
    uint32_t regs_;
};

TEST_F(NandBus, IdentifiesAndCarriesFactoryBadBlockMarks) {
    Command(0x90);
    Address(0);
    EXPECT_EQ(Data(), NandFlash::kMakerId);
    EXPECT_EQ(Data(), NandFlash::kDeviceId);
    for (uint32_t block : NandFlash::kFactoryBadBlocks)
        EXPECT_NE(ReadByte(0x50, NandFlash::kBadBlockMarker, block * 32), 0xFF) << "block " << block;
    EXPECT_EQ(ReadByte(0x50, NandFlash::kBadBlockMarker, 63 * 32), 0xFF);
    EXPECT_EQ(ReadByte(0x50, NandFlash::kBadBlockMarker, 65 * 32), 0xFF);
}

TEST_F(NandBus, ProgramReadAndEraseAPage) {
    flash_.HoldBusy(true);
    Command(0x00);
    Command(0x80);
    Address(0);
    Row(70);
    flash_.BusWrite(regs_ + kNandData, 0x44332211, 4);
    Command(0x10);
    Command(0x70);
    EXPECT_EQ(Data() & 0x40, 0) << "status shows busy while the page programs";
    flash_.HoldBusy(false);
    EXPECT_EQ(StatusAfterWork() & 0x01, 0);
    EXPECT_EQ(ReadByte(0x00, 0, 70), 0x11);
    EXPECT_EQ(Data(), 0x22);
    EXPECT_EQ(ReadByte(0x01, 1, 70), 0xFF) << "second half of the page is still erased";
    EXPECT_EQ(flash_.Nand()->PeekData(70 * 512 + 3), 0x44);

    EXPECT_EQ(EraseBlock(2) & 0x01, 0);
    EXPECT_EQ(flash_.Nand()->PeekData(70 * 512), 0xFF);
    const auto dump = flash_.Dump();
    EXPECT_EQ(dump.size(), NandFlash::kSize) << "the dump follows the device written last";
}

TEST_F(NandBus, FaultsAndBadBlocksFailInTheStatus) {
    std::string error;
    ASSERT_TRUE(flash_.AddFault("erase-stuck:0x8000", &error)) << error;
    ASSERT_TRUE(flash_.AddFault("program-stuck:0xC200", &error)) << error;
    ASSERT_TRUE(flash_.AddFault("bit-flip:0xC402:0", &error)) << error;
    EXPECT_EQ(ProgramPage(0x8000 / 512, 0x00) & 0x01, 0);
    EXPECT_EQ(EraseBlock(2) & 0x01, 1);
    EXPECT_EQ(flash_.Nand()->PeekData(0x8000), 0x00);
    EXPECT_EQ(ProgramPage(0xC200 / 512, 0x00) & 0x01, 1);
    EXPECT_EQ(flash_.Nand()->PeekData(0xC200), 0xFF);
    EXPECT_EQ(ProgramPage(0xC400 / 512, 0x10) & 0x01, 0);
    EXPECT_EQ(ReadByte(0x00, 2, 0xC400 / 512), 0x11);
    EXPECT_EQ(EraseBlock(64) & 0x01, 1) << "a factory bad block refuses to erase";
    EXPECT_EQ(ProgramPage(64 * 32, 0x00) & 0x01, 1);
}

TEST(BoardFlashDump, FollowsTheDeviceWrittenLastAndIsNorAtFirst) {
    VireoBoardFlash flash(Cpu::VireoC_TO2);
    EXPECT_EQ(flash.Dump().size(), NorFlash::kSize);
    VireoBoardFlash b(Cpu::VireoB);
    EXPECT_FALSE(b.Claims(0xB8008000)) << "VireoB has no NAND controller";
    EXPECT_TRUE(b.Claims(0xC1FFFFFF));
    EXPECT_FALSE(b.Claims(0xC2000000));
}

}  // namespace
}  // namespace vsim
