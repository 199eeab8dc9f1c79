// The host's side of fast serial flashing without a board: the frames byte for
// byte, the messages found in noise, the rates offered, and blocks that the flash
// libraries' own decoder turns back into the image.
#include "stream_wire.h"

#include <gtest/gtest.h>

#include "fl_inflate.h"
#include "stream_compress.h"

namespace bootwire::stream {
namespace {

std::vector<uint8_t> MessageBytes(Reply kind, uint16_t seq, uint8_t state, uint32_t value) {
    std::vector<uint8_t> m = {kMessageStart,
                              static_cast<uint8_t>(kind),
                              static_cast<uint8_t>(seq),
                              static_cast<uint8_t>(seq >> 8),
                              state,
                              0,
                              0,
                              0,
                              static_cast<uint8_t>(value),
                              static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 24)};
    const uint32_t crc = Crc32(m);
    for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    return m;
}

TEST(FastWire, FramesAreLaidOutAsTheDatasheetSays) {
    const uint8_t payload[] = {0xDE, 0xAD};
    const auto frame = EncodeFrame(Frame::Block, 0x1234, 0x80004000, payload);
    const std::vector<uint8_t> head = {0xF5, 'B', 0x34, 0x12, 2, 0, 0, 0, 0x00, 0x40, 0x00, 0x80, 0xDE, 0xAD};
    ASSERT_EQ(frame.size(), head.size() + 4);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), frame.begin()));
    const uint32_t crc = Crc32(head);
    EXPECT_EQ(frame[14] | frame[15] << 8 | frame[16] << 16 | uint32_t{frame[17]} << 24, crc);
    // The CRC is zlib's: the check value of "123456789".
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(std::span(reinterpret_cast<const uint8_t*>(check.data()), check.size())), 0xCBF43926u);
    EXPECT_EQ(EncodeFrame(Frame::Quit, 0, 0).size(), kFrameHeaderSize + kFrameTrailerSize);
}

TEST(FastWire, MessagesAreFoundInNoiseAndDamagedOnesSkipped) {
    auto ack = MessageBytes(Reply::Accepted, 7, 0xA2, 0x10000);
    auto damaged = MessageBytes(Reply::Done, 0, 0xB4, 0x12345678);
    damaged[9] ^= 0x40;
    std::vector<uint8_t> line = {0x00, kMessageStart, 0x55};
    line.insert(line.end(), damaged.begin(), damaged.end());
    line.insert(line.end(), ack.begin(), ack.end());

    MessageScanner scanner;
    // A byte at a time, as a slow line delivers them.
    std::optional<Message> found;
    for (uint8_t b : line) {
        scanner.Add(&b, 1);
        if ((found = scanner.Next())) break;
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(found->kind, Reply::Accepted);
    EXPECT_EQ(found->seq, 7);
    EXPECT_EQ(found->state, 0xA2);
    EXPECT_EQ(found->value, 0x10000u);
    EXPECT_FALSE(scanner.Next());
    EXPECT_EQ(scanner.Missing(), kMessageSize);

    EXPECT_FALSE(DecodeMessage(damaged));
    auto unknown = MessageBytes(static_cast<Reply>('Z'), 0, 0, 0);
    EXPECT_FALSE(DecodeMessage(unknown)) << "a kind the host does not know";
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(FastWire, RangeFramesAndTheBlockDigestAreLaidOutAsTheDatasheetSays) {
    const auto range = EncodeRange(0xA0021000, 0x30000, 0, 4096);
    const std::vector<uint8_t> head = {0xF5, 'R',  0,    0,    12, 0, 0, 0, 0x00, 0x10, 0, 0,   // block size 4096
                                       0x00, 0x10, 0x02, 0xA0, 0,  0, 3, 0, 0,    0,    0, 0};  // address, size, end
    ASSERT_EQ(range.size(), head.size() + 4);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), range.begin()));
    const auto digests = EncodeDigests(7, 300);
    EXPECT_EQ(std::vector<uint8_t>(digests.begin(), digests.begin() + 12),
              (std::vector<uint8_t>{0xF5, 'C', 0x2C, 0x01, 0, 0, 0, 0, 7, 0, 0, 0}));
    const uint8_t data[] = {1, 2, 3};
    const auto write = EncodeWrite(5, 9, true, data);
    EXPECT_EQ(write[1], 'W');
    EXPECT_EQ(write[11], 0x80) << "the stored flag";
    // CRC-64 as xz computes it: its check value, and the erased 4 KiB block.
    EXPECT_EQ(Crc64(Bytes("123456789")), 0x995DC9BBDF1939FAull);
    EXPECT_EQ(Crc64(Bytes("56789"), Crc64(Bytes("1234"))), 0x995DC9BBDF1939FAull) << "continues like zlib's crc32";
    EXPECT_EQ(ErasedDigest(4096), Crc64(std::vector<uint8_t>(4096, 0xFF)));
}

// A message with a tail (digests), found among noise and a damaged copy of itself.
TEST(FastWire, MessagesWithATailAreFoundWholeAndDamagedTailsSkipped) {
    auto list = MessageBytes(Reply::Digests, 2, 0xA3, 40);
    const std::vector<uint8_t> tail = {1, 0, 0, 0, 0, 0, 0, 0x80, 2, 0, 0, 0, 0, 0, 0, 0};
    list.insert(list.end(), tail.begin(), tail.end());
    const uint32_t crc = Crc32(tail);
    for (int i = 0; i < 4; ++i) list.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    auto damaged = list;
    damaged[20] ^= 1;
    std::vector<uint8_t> line = {0x11};
    line.insert(line.end(), damaged.begin(), damaged.end());
    line.insert(line.end(), list.begin(), list.end());

    MessageScanner scanner;
    std::optional<Message> found;
    for (uint8_t b : line) {
        scanner.Add(&b, 1);
        if ((found = scanner.Next())) break;
        ASSERT_GE(scanner.Missing(), 1u);
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(found->kind, Reply::Digests);
    EXPECT_EQ(found->value, 40u);
    EXPECT_EQ(found->digests, (std::vector<uint64_t>{0x8000000000000001ull, 2}));
    EXPECT_FALSE(scanner.Next()) << "the damaged copy yields nothing";

    auto tooMany = MessageBytes(Reply::Digests, kMaxDigests + 1, 0, 0);
    EXPECT_EQ(TailSize(*DecodeMessage(tooMany)), std::nullopt);
}

TEST(FastWire, RatesAreExactDivisorsOfTheUartClock) {
    EXPECT_EQ(UartDivisor(921600), 1u);
    EXPECT_EQ(UartDivisor(460800), 2u);
    EXPECT_EQ(UartDivisor(115200), 8u);
    EXPECT_EQ(UartDivisor(9600), 96u);
    EXPECT_FALSE(UartDivisor(1000000));
    EXPECT_FALSE(UartDivisor(250000));
    EXPECT_FALSE(UartDivisor(0));
    EXPECT_FALSE(UartDivisor(-921600));
    for (int rate : kStreamRates) EXPECT_TRUE(UartDivisor(rate)) << rate;
}

// The blocks the host makes, decoded one after the other by the libraries' own
// decoder into one buffer, as the library does.
std::vector<uint8_t> DecodeBlocks(const std::vector<uint8_t>& image, size_t blockSize, size_t* stored) {
    BlockCompressor compressor(image, blockSize);
    std::vector<uint8_t> out(image.size());
    uint32_t pos = 0;
    StreamBlock block;
    *stored = 0;
    while (compressor.Next(&block)) {
        EXPECT_LE(block.payload.size(), blockSize);
        if (block.stored) {
            ++*stored;
            EXPECT_EQ(block.payload.size(), block.size);
            std::copy(block.payload.begin(), block.payload.end(), out.begin() + pos);
            pos += block.size;
            continue;
        }
        const uint32_t end = pos + block.size;
        const int result =
            fl_inflate(block.payload.data(), static_cast<uint32_t>(block.payload.size()), out.data(), end, &pos);
        EXPECT_TRUE(result == FL_INFLATE_OK || result == FL_INFLATE_FINAL);
        EXPECT_EQ(pos, end);
    }
    EXPECT_TRUE(compressor.Error().empty());
    return out;
}

TEST(FastWire, BlocksDecodeBackToTheImage) {
    std::vector<uint8_t> image;
    // Text-like, then noise, then text again: back-references reach across the
    // stored blocks in between.
    for (int i = 0; i < 60000; ++i) image.push_back(static_cast<uint8_t>("flash library "[i % 14]));
    uint32_t x = 1;
    for (int i = 0; i < 40000; ++i) image.push_back(static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16));
    for (int i = 0; i < 60000; ++i) image.push_back(static_cast<uint8_t>("flash library "[i % 14]));
    size_t stored = 0;
    EXPECT_EQ(DecodeBlocks(image, 16384, &stored), image);
    EXPECT_GE(stored, 1u) << "noise goes as it is";
    const std::vector<uint8_t> one = {0x42};
    EXPECT_EQ(DecodeBlocks(one, 16384, &stored), one);
}

}  // namespace
}  // namespace bootwire::stream
