// The flash libraries' deflate decoder, compiled for the host: streams that zlib
// makes in every way it can (levels, strategies, flushes between blocks) decode
// to what went in, block by block into one buffer; damaged, truncated and
// hostile input ends with an error and never writes outside the buffer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "fl_inflate.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Raw deflate of data, flushed after every `chunk` bytes (Z_SYNC_FLUSH) and
// finished after the last; one compressed piece per chunk.
std::vector<Bytes> Deflate(const Bytes& data, size_t chunk, int level = 9, int strategy = Z_DEFAULT_STRATEGY) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy), Z_OK);
    std::vector<Bytes> pieces;
    for (size_t at = 0; at < data.size(); at += chunk) {
        const size_t n = std::min(chunk, data.size() - at);
        const bool last = at + n == data.size();
        Bytes out(deflateBound(&z, n) + 64);
        z.next_in = const_cast<Bytef*>(data.data() + at);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        EXPECT_NE(deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH), Z_STREAM_ERROR);
        out.resize(out.size() - z.avail_out);
        pieces.push_back(std::move(out));
    }
    deflateEnd(&z);
    return pieces;
}

Bytes Text(size_t size) {
    const std::string words = "the flash library decodes what the host compressed, block by block; ";
    Bytes out;
    for (size_t i = 0; out.size() < size; ++i)
        out.push_back(static_cast<uint8_t>(words[(i * 7 + i / 13) % words.size()]));
    return out;
}

Bytes Noise(size_t size, unsigned seed = 1) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (auto& b : out) b = static_cast<uint8_t>(random());
    return out;
}

// Decodes the pieces one after the other into one buffer of exactly the data's
// size; the result of the last call.
int DecodeAll(const std::vector<Bytes>& pieces, Bytes* out) {
    uint32_t pos = 0;
    int result = FL_INFLATE_OK;
    for (const Bytes& piece : pieces) {
        result = fl_inflate(piece.data(), static_cast<uint32_t>(piece.size()), out->data(),
                            static_cast<uint32_t>(out->size()), &pos);
        if (result < 0) return result;
    }
    return pos == out->size() ? result : FL_INFLATE_BAD;
}

TEST(Inflate, DecodesWhatZlibMakesBlockByBlock) {
    struct Case {
        const char* name;
        Bytes data;
        int level;
        int strategy;
    };
    std::vector<Case> cases = {
        {"text, best", Text(100000), 9, Z_DEFAULT_STRATEGY},     {"text, fastest", Text(100000), 1, Z_DEFAULT_STRATEGY},
        {"text, fixed codes", Text(50000), 6, Z_FIXED},          {"text, Huffman only", Text(50000), 6, Z_HUFFMAN_ONLY},
        {"zeros, run lengths", Bytes(70000, 0), 9, Z_RLE},       {"noise, stored", Noise(70000), 0, Z_DEFAULT_STRATEGY},
        {"noise, best", Noise(70000, 2), 9, Z_DEFAULT_STRATEGY}, {"one byte", Bytes(1, 0x42), 9, Z_DEFAULT_STRATEGY},
    };
    for (const Case& c : cases) {
        for (size_t chunk : {size_t{1000}, size_t{16384}, c.data.size()}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(chunk));
            Bytes out(c.data.size());
            EXPECT_EQ(DecodeAll(Deflate(c.data, chunk, c.level, c.strategy), &out), FL_INFLATE_FINAL);
            EXPECT_EQ(out, c.data);
        }
    }
}

TEST(Inflate, NeverWritesPastItsLimit) {
    const Bytes data = Text(40000);
    const auto pieces = Deflate(data, data.size());
    // The buffer ends where the limit is; a guard zone behind it must stay as it was.
    for (uint32_t limit : {uint32_t{0}, uint32_t{1}, uint32_t{257}, uint32_t{39999}}) {
        Bytes out(limit + 64, 0xEE);
        uint32_t pos = 0;
        EXPECT_EQ(fl_inflate(pieces[0].data(), static_cast<uint32_t>(pieces[0].size()), out.data(), limit, &pos),
                  FL_INFLATE_FULL);
        EXPECT_LE(pos, limit);
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + pos, out.begin()));
        EXPECT_TRUE(std::all_of(out.begin() + limit, out.end(), [](uint8_t b) { return b == 0xEE; }));
    }
}

TEST(Inflate, RefusesBackReferencesBeforeTheBuffer) {
    // The second piece refers back into the first; decoded alone it must not reach
    // in front of the buffer's start.
    const Bytes data = Text(40000);
    const auto pieces = Deflate(data, 20000);
    ASSERT_EQ(pieces.size(), 2u);
    Bytes out(20000);
    uint32_t pos = 0;
    EXPECT_EQ(fl_inflate(pieces[1].data(), static_cast<uint32_t>(pieces[1].size()), out.data(), 20000, &pos),
              FL_INFLATE_BAD);
}

TEST(Inflate, RefusesTruncatedAndDamagedInput) {
    const Bytes data = Text(5000);
    const Bytes stream = Deflate(data, data.size())[0];
    Bytes out(data.size());
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        uint32_t pos = 0;
        const int result = fl_inflate(stream.data(), static_cast<uint32_t>(cut), out.data(), 5000, &pos);
        // Only a cut at a flush point between blocks may read as "more to come".
        EXPECT_TRUE(result == FL_INFLATE_BAD || (result == FL_INFLATE_OK && pos < data.size())) << cut;
    }
    // Trailing bytes after the last block.
    Bytes longer = stream;
    longer.push_back(0);
    uint32_t pos = 0;
    EXPECT_EQ(fl_inflate(longer.data(), static_cast<uint32_t>(longer.size()), out.data(), 5000, &pos), FL_INFLATE_BAD);
    // A stored block whose length check does not match, and the reserved block type.
    const uint8_t badStored[] = {0x01, 0x05, 0x00, 0xFA, 0xFE, 1, 2, 3, 4, 5};
    pos = 0;
    EXPECT_EQ(fl_inflate(badStored, sizeof badStored, out.data(), 5000, &pos), FL_INFLATE_BAD);
    const uint8_t reserved[] = {0x07};
    pos = 0;
    EXPECT_EQ(fl_inflate(reserved, sizeof reserved, out.data(), 5000, &pos), FL_INFLATE_BAD);
}

TEST(Inflate, SurvivesRandomBytes) {
    std::mt19937 random(99);
    Bytes out(4096);
    for (int round = 0; round < 20000; ++round) {
        Bytes input = Noise(1 + random() % 200, static_cast<unsigned>(round));
        uint32_t pos = static_cast<uint32_t>(random() % 64);
        const int result = fl_inflate(input.data(), static_cast<uint32_t>(input.size()), out.data(),
                                      static_cast<uint32_t>(out.size()), &pos);
        ASSERT_GE(result, FL_INFLATE_FULL);
        ASSERT_LE(result, FL_INFLATE_FINAL);
        ASSERT_LE(pos, out.size());
    }
}

}  // namespace
