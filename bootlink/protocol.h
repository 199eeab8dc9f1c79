// The boot ROM's wire format: 16-byte command frames and 4-byte response words.
// Pure functions, no I/O.
#pragma once

#include <bootwire/bootwire.h>

#include <array>
#include <cstdint>

namespace bootwire::protocol {

using Frame = std::array<uint8_t, kFrameSize>;

enum class Command : uint8_t {
    ReadMemory = 0x01,
    WriteRegister = 0x02,
    WriteFile = 0x04,
    GetStatus = 0x05,
};

struct FrameFields {
    uint32_t address = 0;
    uint8_t format = 0;
    uint32_t count = 0;
    uint32_t data = 0;
    uint8_t fileType = 0;
};

Frame BuildFrame(Command command, const FrameFields& fields);
Frame ReadMemoryFrame(uint32_t address, uint32_t count, uint8_t format);
Frame WriteRegisterFrame(uint32_t address, uint32_t value, uint8_t format);
Frame WriteFileFrame(uint32_t address, uint32_t size, FileType type);
Frame GetStatusFrame();
// The query the running flash program answers; not a boot ROM frame.
Frame FlashingStatusQuery();

// A response word: the first byte received is the least significant.
inline uint32_t DecodeWord(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace bootwire::protocol
