// What the virtual board runs after its boot ROM has loaded an application
// (the 0xAA header) and the host has confirmed with get-status.
//
// The boot ROM model (board.h) owns RAM and the links; a Program gets the RAM and
// the board's flash through ProgramContext, runs on a thread of its own, takes the
// host's bytes through HostBytes and answers through ProgramContext::toHost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vsim {

enum class Cpu { VireoB = 0, VireoC_TO1 = 1, VireoC_TO2 = 2 };
enum class Channel : int { Serial = 0, Usb = 1 };

class BoardFlash;

struct ProgramContext {
    Cpu cpu;
    uint32_t ramBase = 0;
    uint8_t* ram = nullptr;  // the board's RAM, shared with the boot ROM
    size_t ramSize = 0;
    BoardFlash* flash = nullptr;
    uint32_t entry = 0;  // address the boot ROM jumps to
    // Sends bytes to the host on a channel; callable from the program's thread.
    std::function<void(Channel, const uint8_t*, size_t)> toHost;
    // The UART's rate changed (the program wrote its divisor); in baud.
    std::function<void(unsigned baud)> serialRate;
    // True when every byte sent to the host on the serial line has left the board.
    std::function<bool()> serialSent;
    // Called once when the program ends by itself. backToRom: the program handed the
    // board back to its boot ROM (a finished flash library does); false: it crashed or
    // stopped, and the board stays silent.
    std::function<void(bool backToRom)> ended;
};

class Program {
public:
    virtual ~Program() = default;
    // Starts the program on its own thread.
    virtual void Start() = 0;
    // Bytes the host sent on a channel while the program runs.
    virtual void HostBytes(Channel channel, const uint8_t* data, size_t n) = 0;
    // Ends the program's thread; safe to call more than once.
    virtual void Stop() = 0;
    // Host bytes the program had not read from a channel when it ended: the UART
    // keeps them for whoever reads it next (the boot ROM).
    virtual std::vector<uint8_t> TakeUnread(Channel channel) {
        (void)channel;
        return {};
    }
};

using ProgramFactory = std::function<std::unique_ptr<Program>(const ProgramContext&)>;

}  // namespace vsim
