#include "protocol.h"

namespace bootwire::protocol {
namespace {

void PutBigEndian(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

void PutLittleEndian(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

Frame BuildFrame(Command command, const FrameFields& fields) {
    Frame frame{};
    frame[0] = frame[1] = static_cast<uint8_t>(command);
    PutBigEndian(&frame[2], fields.address);
    frame[6] = fields.format;
    PutBigEndian(&frame[7], fields.count);
    PutBigEndian(&frame[11], fields.data);
    frame[15] = fields.fileType;
    return frame;
}

Frame ReadMemoryFrame(uint32_t address, uint32_t count, uint8_t format) {
    return BuildFrame(Command::ReadMemory, {.address = address, .format = format, .count = count});
}

Frame WriteRegisterFrame(uint32_t address, uint32_t value, uint8_t format) {
    return BuildFrame(Command::WriteRegister, {.address = address, .format = format, .data = value});
}

Frame WriteFileFrame(uint32_t address, uint32_t size, FileType type) {
    return BuildFrame(Command::WriteFile, {.address = address, .count = size, .fileType = static_cast<uint8_t>(type)});
}

Frame GetStatusFrame() { return BuildFrame(Command::GetStatus, {}); }

Frame FlashingStatusQuery() {
    Frame frame{};
    const uint32_t words[] = {0x00009394, 0x12345678, 0x90ABCDEF, 0xAA55AA55};
    for (size_t i = 0; i < 4; ++i) {
        PutLittleEndian(&frame[4 * i], words[i]);
    }
    return frame;
}

}  // namespace bootwire::protocol
