#include "programs/board_bus.h"

#include "flash/board_flash.h"

namespace vsim {

namespace {

bool Within(uint32_t addr, uint32_t base, uint32_t size) { return base != 0 && addr - base < size; }

}  // namespace

BoardBus::BoardBus(const ProgramContext& context)
    : context_(context), map_(MapOf(context.cpu)), start_(std::chrono::steady_clock::now()) {}

uint32_t BoardBus::Read(uint32_t addr, unsigned size) {
    if (Within(addr, map_.uart, kPeripheralWindow)) return FifoRead(Channel::Serial, addr - map_.uart);
    if (Within(addr, map_.usbFifo, kPeripheralWindow)) return FifoRead(Channel::Usb, addr - map_.usbFifo);
    if (Within(addr, map_.systemControl, kPeripheralWindow)) {
        const uint32_t offset = addr - map_.systemControl;
        if (offset == kSysChipId) return ChipIdOf(context_.cpu);
        if (offset == kSysTimerUs) {
            const auto elapsed = std::chrono::steady_clock::now() - start_;
            return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
        }
        return 0;
    }
    if (context_.flash && context_.flash->Claims(addr)) return context_.flash->BusRead(addr, size);
    return 0;
}

void BoardBus::Write(uint32_t addr, uint32_t value, unsigned size) {
    if (Within(addr, map_.uart, kPeripheralWindow)) {
        FifoWrite(Channel::Serial, addr - map_.uart, value);
    } else if (Within(addr, map_.usbFifo, kPeripheralWindow)) {
        FifoWrite(Channel::Usb, addr - map_.usbFifo, value);
    } else if (Within(addr, map_.systemControl, kPeripheralWindow)) {
        const uint32_t offset = addr - map_.systemControl;
        if (offset == kSysBootControl && value == kReturnToRomKey)
            handedBack_ = true;
        else if (offset == kSysWaitForHost)
            WaitForHost();
    } else if (context_.flash && context_.flash->Claims(addr)) {
        context_.flash->BusWrite(addr, value, size);
    }
}

uint32_t BoardBus::FifoRead(Channel channel, uint32_t offset) {
    if (channel == Channel::Serial && offset == kUartDivisor) return uartDivisor_;
    bool sent = true;
    if (channel == Channel::Serial && offset == kFifoStatus && context_.serialSent) sent = context_.serialSent();
    std::lock_guard lock(mutex_);
    auto& queue = received_[static_cast<int>(channel)];
    if (offset == kFifoStatus) {
        uint32_t status = (queue.empty() ? 0 : kFifoRxReady) | kFifoTxRoom;
        if (channel == Channel::Serial && sent) status |= kFifoTxIdle;
        return status;
    }
    if (offset == kFifoData && !queue.empty()) {
        const uint8_t byte = queue.front();
        queue.pop_front();
        return byte;
    }
    return 0;
}

void BoardBus::FifoWrite(Channel channel, uint32_t offset, uint32_t value) {
    if (offset == kFifoData) {
        const auto byte = static_cast<uint8_t>(value);
        if (channel == Channel::Serial) {
            if (context_.toHost) context_.toHost(channel, &byte, 1);
        } else {
            usbPacket_.push_back(byte);
        }
    } else if (offset == kUartDivisor && channel == Channel::Serial) {
        // A divisor of 0 would stop the clock; the UART ignores it.
        if (value == 0 || value > 0xFFFF) return;
        uartDivisor_ = value;
        if (context_.serialRate) context_.serialRate(kUartClockBaud / value);
    } else if (offset == kFifoCommit && channel == Channel::Usb) {
        if (context_.toHost && !usbPacket_.empty()) context_.toHost(channel, usbPacket_.data(), usbPacket_.size());
        usbPacket_.clear();
    }
}

void BoardBus::HostBytes(Channel channel, const uint8_t* data, size_t n) {
    {
        std::lock_guard lock(mutex_);
        auto& queue = received_[static_cast<int>(channel) & 1];
        queue.insert(queue.end(), data, data + n);
    }
    hostBytes_.notify_all();
}

std::vector<uint8_t> BoardBus::TakeReceived(Channel channel) {
    std::lock_guard lock(mutex_);
    auto& queue = received_[static_cast<int>(channel) & 1];
    std::vector<uint8_t> bytes(queue.begin(), queue.end());
    queue.clear();
    return bytes;
}

void BoardBus::RequestStop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    hostBytes_.notify_all();
}

void BoardBus::WaitForHost() {
    std::unique_lock lock(mutex_);
    hostBytes_.wait_for(lock, std::chrono::milliseconds(1),
                        [this] { return stop_ || !received_[0].empty() || !received_[1].empty(); });
}

}  // namespace vsim
