// The boot ROM's wire format as the board sees it: frame layout, command codes,
// answer words and file types. The board decodes frames with its own code so
// that it stays an independent witness of what the host library sends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vsim {

inline constexpr size_t kFrameSize = 16;

// Offsets inside a command frame; multi-byte fields are most significant byte first.
inline constexpr size_t kFrameCode = 0;
inline constexpr size_t kFrameAddress = 2;
inline constexpr size_t kFrameFormat = 6;
inline constexpr size_t kFrameCount = 7;
inline constexpr size_t kFrameData = 11;
inline constexpr size_t kFrameFileType = 15;

enum class Command : uint8_t {
    ReadMemory = 0x01,
    WriteRegister = 0x02,
    WriteFile = 0x04,
    GetStatus = 0x05,
};

enum class FileType : uint8_t {
    Image = 0x00,
    Application = 0xAA,
    Csf = 0xCC,
    Hwc = 0xEE,
};

// Answer words; on the wire the least significant byte goes first.
inline constexpr uint32_t kWordAck = 0x56787856;
inline constexpr uint32_t kWordRegisterDone = 0x128A8A12;
inline constexpr uint32_t kWordComplete = 0x88888888;

// What get-status answers while no application is pending, unless --sekurel says otherwise.
inline constexpr uint32_t kDefaultSekurelStatus = 0x0000003C;

// The flashing-status query a running flash program receives from the host.
inline constexpr std::array<uint8_t, kFrameSize> kStatusQuery = {
    0x94, 0x93, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x90, 0x55, 0xAA, 0x55, 0xAA,
};

inline constexpr uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline constexpr std::array<uint8_t, 4> WireWord(uint32_t word) {
    return {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word >> 16),
            static_cast<uint8_t>(word >> 24)};
}

}  // namespace vsim
