// Where the virtual board puts its devices on the CPU's bus, per processor type.
// flashlib/DATASHEET.md is the human-readable form of this table; the flash
// programs carry their own copy of these addresses, as firmware for a real board would.
#pragma once

#include <cstdint>

#include "core/program.h"

namespace vsim {

struct BoardMap {
    uint32_t ramBase;
    uint32_t ramSize;
    uint32_t norBase;
    uint32_t norSize;
    uint32_t nandController;  // 0: the board has no NAND
    uint32_t uart;
    uint32_t usbFifo;
    uint32_t systemControl;
};

// Every peripheral block occupies one 4 KiB page.
inline constexpr uint32_t kPeripheralWindow = 0x1000;

// System-control registers (offsets from BoardMap::systemControl).
inline constexpr uint32_t kSysChipId = 0x00;
inline constexpr uint32_t kSysTimerUs = 0x04;  // free-running microsecond counter
inline constexpr uint32_t kSysBootControl = 0x08;
inline constexpr uint32_t kReturnToRomKey = 0x524F4D21;  // written to kSysBootControl
// Writing here idles the CPU until a host byte arrives or about a millisecond has
// passed, as a wait-for-interrupt on the receive line would.
inline constexpr uint32_t kSysWaitForHost = 0x0C;

// UART and USB FIFO registers share one layout; only the USB FIFO has a commit register,
// because a bulk endpoint sends whole packets.
inline constexpr uint32_t kFifoData = 0x00;    // read: next received byte; write: send a byte
inline constexpr uint32_t kFifoStatus = 0x04;  // bit 0: a byte waits; bit 1: room to send
inline constexpr uint32_t kFifoCommit = 0x08;  // USB only: hands the collected bytes to the host
inline constexpr uint32_t kFifoRxReady = 1u << 0;
inline constexpr uint32_t kFifoTxRoom = 1u << 1;
inline constexpr uint32_t kFifoTxIdle = 1u << 2;  // UART only: every byte written has left on the line
// UART only: the baud-rate divisor. The UART's clock (14.7456 MHz) divided by 16
// gives kUartClockBaud; the line runs at kUartClockBaud / divisor.
inline constexpr uint32_t kUartDivisor = 0x0C;
inline constexpr uint32_t kUartClockBaud = 921600;
inline constexpr uint32_t kRomUartDivisor = 8;  // 115200 baud, as the boot ROM sets it

// NAND controller registers (offsets from BoardMap::nandController).
inline constexpr uint32_t kNandCommand = 0x00;
inline constexpr uint32_t kNandAddress = 0x04;
inline constexpr uint32_t kNandData = 0x08;
inline constexpr uint32_t kNandStatus = 0x0C;  // bit 0: the device is ready (R/B#)

inline constexpr BoardMap MapOf(Cpu cpu) {
    if (cpu == Cpu::VireoB)
        return {0xA0000000, 64u << 20, 0xC0000000, 32u << 20, 0, 0xD8009000, 0xD800A000, 0xD800B000};
    return {0x80000000, 64u << 20, 0xA0000000, 32u << 20, 0xB8008000, 0xB8009000, 0xB800A000, 0xB800B000};
}

inline constexpr uint32_t ChipIdOf(Cpu cpu) { return cpu == Cpu::VireoB ? 0x5649B000u : 0x5649C000u; }

}  // namespace vsim
