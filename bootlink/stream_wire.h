// The host's side of the wire of the built-in flash libraries' streaming mode
// (flashlib/DATASHEET.md "Streaming mode" and "Ranges"): the frames the host sends,
// the messages the library answers, the CRC-32 both use, the CRC-64 of ranged
// blocks and the rates the board's UART can make. Pure functions, no link. The
// library's side is its own C code, so that neither side can hide a mistake of the
// other. Internal to Bootwire (stream_session.cpp).
#pragma once

#include <bootwire/bootwire.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bootwire::stream {

// The parameter block word that asks the library for streaming mode.
inline constexpr uint32_t kStreamWordOffset = 0xFFE8;
inline constexpr uint32_t kStreamRequest = 0x5354524D;

// The UART runs at kUartClockBaud / divisor (a 14.7456 MHz clock divided by 16);
// the boot ROM sets 115200.
inline constexpr int kUartClockBaud = kStreamUartClockBaud;
inline constexpr int kRomBaud = kStreamRomBaud;

inline constexpr uint8_t kFrameStart = 0xF5;
inline constexpr uint8_t kMessageStart = 0xFA;
inline constexpr size_t kFrameHeaderSize = 12;
inline constexpr size_t kFrameTrailerSize = 4;
inline constexpr size_t kMessageSize = 16;
inline constexpr uint16_t kProtocolVersion = 1;
// Hello's argument asks for this version: ranges, block digests, ranged writes, erase.
inline constexpr uint16_t kRangesVersion = 2;
inline constexpr size_t kRangePayloadSize = 12;
// Ranged blocks are a power of two of these sizes; one request lists at most
// kMaxDigests of their digests.
inline constexpr uint32_t kMinRangeBlock = 512;
inline constexpr uint32_t kMaxRangeBlock = 16384;
inline constexpr uint16_t kMaxDigests = 512;
// Block argument: the decoded size, and this flag when the payload is the data itself.
inline constexpr uint32_t kStoredFlag = 0x80000000;

enum class Frame : uint8_t {
    Hello = 'H',   // who are you: the library answers with its limits
    Speed = 'S',   // argument: the rate to switch to
    Sync = 'Y',    // argument: a number the library echoes at the new rate
    Block = 'B',   // sequence number, argument (size | stored flag), payload
    Finish = 'F',  // where are you: progress, or the digest when done
    Quit = 'Q',    // the session ends; the library returns to the boot ROM
    // Version 2.
    Range = 'R',    // argument: block size; payload: address, size, partition end
    Digests = 'C',  // seq: how many; argument: the first block
    Write = 'W',    // seq: sequence number; argument: block index (| stored flag); payload
    Erase = 'E',    // erase the range's sectors or blocks
};

enum class Reply : uint8_t {
    Hello = 'H',     // seq: protocol version; value: largest payload; state: an error for a refused job
    Speed = 'S',     // the switch is coming; value: the rate
    Refused = 'R',   // the UART cannot make that rate
    Sync = 'Y',      // value: the sync frame's number
    Accepted = 'A',  // seq: the block taken; value: image bytes in flash
    Rejected = 'N',  // seq: the block expected; reason: why
    Progress = 'P',  // state: erasing/programming/verifying; value: bytes written or verified
    Done = 'D',      // value: CRC-32 of the flash range written
    Error = 'E',     // state: 0xB1/0xB2/0xB3; reason: why
    Quit = 'Q',
    // Version 2.
    Range = 'G',    // the range is in use; value: its number of blocks
    Digests = 'L',  // seq: how many; value: the first block; digests follow
    Erased = 'X',   // value: sectors or blocks erased; the extent follows
};

// Why a block was rejected or the library failed.
enum class Reason : uint8_t {
    None = 0,
    Damaged = 1,
    Gap = 2,
    Sequence = 3,
    Job = 4,
    Flash = 5,
    Data = 6,
    Speed = 7,
    HostSilent = 8,
    Request = 9,
};

// What an erase covered: NOR bus addresses or NAND offsets, one past the end.
struct Erased {
    uint32_t start = 0;
    uint32_t end = 0;
    uint32_t units = 0;    // sectors or blocks erased
    uint32_t skipped = 0;  // bad blocks between them
};

struct Message {
    Reply kind = Reply::Hello;
    uint16_t seq = 0;
    uint8_t state = 0;
    uint8_t reason = 0;
    uint32_t value = 0;
    std::vector<uint64_t> digests;  // Digests: one per block
    Erased erased;                  // Erased
};

// CRC-32 as zlib computes it (IEEE 802.3), continuing from `crc`.
uint32_t Crc32(std::span<const uint8_t> data, uint32_t crc = 0);

// The UART's divisor for a rate; nullopt when no divisor makes it exactly.
std::optional<uint32_t> UartDivisor(int baud);

// CRC-64 as xz computes it (ECMA-182 polynomial, reflected), continuing from `crc`:
// the digest of a ranged block.
uint64_t Crc64(std::span<const uint8_t> data, uint64_t crc = 0);
// The digest of a ranged block of `size` bytes that are all erased (0xFF).
uint64_t ErasedDigest(uint32_t size);

std::vector<uint8_t> EncodeFrame(Frame kind, uint16_t seq, uint32_t argument, std::span<const uint8_t> payload = {});
// Version 2's frames. address: NOR bus address or NAND offset; partitionEnd: its
// last byte, 0 for the end of the device.
std::vector<uint8_t> EncodeRange(uint32_t address, uint32_t size, uint32_t partitionEnd, uint32_t blockSize);
std::vector<uint8_t> EncodeDigests(uint32_t first, uint16_t count);
// payload: the block's own raw deflate stream, or (stored) its bytes.
std::vector<uint8_t> EncodeWrite(uint16_t seq, uint32_t index, bool stored, std::span<const uint8_t> payload);

// A message from its 16 bytes; nullopt when the start byte or the CRC is wrong.
// Digests and Erased are followed by a tail (TailSize bytes and their CRC-32),
// which this does not read.
std::optional<Message> DecodeMessage(std::span<const uint8_t> bytes);
// Bytes that follow a message before its tail's CRC-32: 0 for most kinds;
// nullopt when the header announces more than a library sends.
std::optional<size_t> TailSize(const Message& m);
// Takes a tail (TailSize bytes, then their CRC-32) into the message; false when
// the CRC is wrong.
bool DecodeTail(std::span<const uint8_t> tail, Message* m);

// Words for a reason code, for diagnostics.
std::string ReasonText(uint8_t reason);

// Collects what arrives on the line and finds the messages in it (with their
// tails); bytes that cannot start a valid message (noise, a damaged message or
// tail) are skipped.
class MessageScanner {
public:
    void Add(const uint8_t* data, size_t n);
    std::optional<Message> Next();
    // How many more bytes could complete a message (at least 1).
    size_t Missing() const;
    void Clear() { bytes_.clear(); }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace bootwire::stream
