// The peripherals a running program reaches besides the flash: the report
// channels and the system-control block.
#include "programs/board_bus.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "flash/vireo_board_flash.h"

namespace vsim {
namespace {

struct Sent {
    Channel channel;
    std::vector<uint8_t> bytes;
};

class BusTest : public ::testing::Test {
protected:
    BusTest() : flash_(Cpu::VireoB) {
        ProgramContext context;
        context.cpu = Cpu::VireoB;
        context.flash = &flash_;
        context.toHost = [this](Channel channel, const uint8_t* data, size_t n) {
            sent_.push_back({channel, std::vector<uint8_t>(data, data + n)});
        };
        bus_ = std::make_unique<BoardBus>(context);
    }

    VireoBoardFlash flash_;
    std::vector<Sent> sent_;
    std::unique_ptr<BoardBus> bus_;
};

TEST_F(BusTest, UartSendsEachByteAndUsbOnlyWholePackets) {
    const BoardMap& map = bus_->Map();
    bus_->Write(map.uart + kFifoData, 0x1A5, 4);
    ASSERT_EQ(sent_.size(), 1u);
    EXPECT_EQ(sent_[0].channel, Channel::Serial);
    EXPECT_EQ(sent_[0].bytes, std::vector<uint8_t>{0xA5});

    for (uint8_t b : {1, 2, 3, 4}) bus_->Write(map.usbFifo + kFifoData, b, 4);
    EXPECT_EQ(sent_.size(), 1u) << "nothing leaves the USB FIFO before the commit";
    bus_->Write(map.usbFifo + kFifoCommit, 1, 4);
    ASSERT_EQ(sent_.size(), 2u);
    EXPECT_EQ(sent_[1].channel, Channel::Usb);
    EXPECT_EQ(sent_[1].bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
    bus_->Write(map.usbFifo + kFifoCommit, 1, 4);
    EXPECT_EQ(sent_.size(), 2u) << "an empty packet is not sent";
}

TEST_F(BusTest, HostBytesArriveOnTheirOwnChannelInOrder) {
    const BoardMap& map = bus_->Map();
    EXPECT_EQ(bus_->Read(map.uart + kFifoStatus, 4), kFifoTxRoom | kFifoTxIdle);
    const uint8_t bytes[] = {7, 8};
    bus_->HostBytes(Channel::Usb, bytes, 2);
    EXPECT_EQ(bus_->Read(map.uart + kFifoStatus, 4) & kFifoRxReady, 0u);
    EXPECT_EQ(bus_->Read(map.usbFifo + kFifoStatus, 4) & kFifoRxReady, kFifoRxReady);
    EXPECT_EQ(bus_->Read(map.usbFifo + kFifoData, 4), 7u);
    EXPECT_EQ(bus_->Read(map.usbFifo + kFifoData, 4), 8u);
    EXPECT_EQ(bus_->Read(map.usbFifo + kFifoStatus, 4) & kFifoRxReady, 0u);
    EXPECT_EQ(bus_->Read(map.usbFifo + kFifoData, 4), 0u);
}

TEST(Uart, DivisorSetsTheLinesRateAndTheTransmitterSaysWhenItIsIdle) {
    std::vector<unsigned> rates;
    bool sent = false;
    ProgramContext context;
    context.cpu = Cpu::VireoC_TO2;
    context.serialRate = [&](unsigned baud) { rates.push_back(baud); };
    context.serialSent = [&] { return sent; };
    BoardBus bus(context);
    const uint32_t uart = bus.Map().uart;
    EXPECT_EQ(bus.Read(uart + kUartDivisor, 4), kRomUartDivisor) << "the boot ROM's 115200 baud";
    bus.Write(uart + kUartDivisor, 1, 4);
    bus.Write(uart + kUartDivisor, 0, 4);  // would stop the clock: ignored
    bus.Write(uart + kUartDivisor, 4, 4);
    EXPECT_EQ(rates, (std::vector<unsigned>{921600, 230400}));
    EXPECT_EQ(bus.Read(uart + kUartDivisor, 4), 4u);
    EXPECT_EQ(bus.Read(uart + kFifoStatus, 4) & kFifoTxIdle, 0u);
    sent = true;
    EXPECT_EQ(bus.Read(uart + kFifoStatus, 4) & kFifoTxIdle, kFifoTxIdle);
    EXPECT_EQ(bus.Read(bus.Map().usbFifo + kFifoStatus, 4) & kFifoTxIdle, 0u) << "the USB FIFO has no such bit";
}

TEST_F(BusTest, SystemControlHandsBackOnlyWithTheKey) {
    const BoardMap& map = bus_->Map();
    EXPECT_EQ(bus_->Read(map.systemControl + kSysChipId, 4), ChipIdOf(Cpu::VireoB));
    const uint32_t before = bus_->Read(map.systemControl + kSysTimerUs, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_GT(bus_->Read(map.systemControl + kSysTimerUs, 4), before);
    bus_->Write(map.systemControl + kSysBootControl, 0x12345678, 4);
    EXPECT_FALSE(bus_->HandedBack());
    bus_->Write(map.systemControl + kSysBootControl, kReturnToRomKey, 4);
    EXPECT_TRUE(bus_->HandedBack());
}

TEST_F(BusTest, WaitForHostEndsWhenBytesCome) {
    const BoardMap& map = bus_->Map();
    std::thread host([this] {
        const uint8_t byte = 0x94;
        bus_->HostBytes(Channel::Serial, &byte, 1);
    });
    // Returns after the byte or after its short idle period, whichever is first.
    while (!(bus_->Read(map.uart + kFifoStatus, 4) & kFifoRxReady))
        bus_->Write(map.systemControl + kSysWaitForHost, 1, 4);
    host.join();
    EXPECT_EQ(bus_->Read(map.uart + kFifoData, 4), 0x94u);
}

TEST_F(BusTest, FlashWindowGoesToTheFlashAndTheRestReadsZero) {
    const BoardMap& map = bus_->Map();
    EXPECT_EQ(bus_->Read(map.norBase + 0x100, 4), 0xFFFFFFFFu);
    EXPECT_EQ(bus_->Read(0xB8008000, 4), 0u) << "VireoB has no NAND controller";
    bus_->Write(0x12345678, 1, 4);
    EXPECT_TRUE(sent_.empty());
}

}  // namespace
}  // namespace vsim
