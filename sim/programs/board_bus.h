// The peripherals a running program sees besides RAM: the flash devices (through
// BoardFlash), the UART and the USB FIFO that carry bytes to and from the host,
// with the UART's baud-rate divisor, and the system-control block (chip ID,
// microsecond timer, hand-back to the boot ROM). Shared by the emulated and the native programs.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "core/program.h"
#include "flash/board_map.h"

namespace vsim {

class BoardBus {
public:
    explicit BoardBus(const ProgramContext& context);

    const ProgramContext& Context() const { return context_; }
    const BoardMap& Map() const { return map_; }

    // Accesses to anything but RAM; unclaimed addresses read 0 and ignore writes.
    uint32_t Read(uint32_t addr, unsigned size);
    void Write(uint32_t addr, uint32_t value, unsigned size);

    void HostBytes(Channel channel, const uint8_t* data, size_t n);
    // Takes the host bytes of a channel that the program has not read.
    std::vector<uint8_t> TakeReceived(Channel channel);

    bool HandedBack() const { return handedBack_; }
    // Ends waits for the host at once; the runner then stops the program.
    void RequestStop();
    bool StopRequested() const { return stop_; }

private:
    uint32_t FifoRead(Channel channel, uint32_t offset);
    void FifoWrite(Channel channel, uint32_t offset, uint32_t value);
    void WaitForHost();

    ProgramContext context_;
    BoardMap map_;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable hostBytes_;
    std::array<std::deque<uint8_t>, 2> received_;
    std::vector<uint8_t> usbPacket_;
    uint32_t uartDivisor_ = kRomUartDivisor;  // the program's thread only
    std::atomic<bool> handedBack_{false};
    std::atomic<bool> stop_{false};
};

}  // namespace vsim
