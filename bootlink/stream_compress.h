// Cuts an image into the blocks of fast serial flashing: one deflate stream over
// the whole image, flushed at the end of every block so that each block decodes
// on its own once the blocks before it have (the library's window is the image
// it has decoded so far). A block that deflate cannot make smaller goes stored,
// as the data itself. The blocks of ranged writes are deflated one by one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bootwire::stream {

struct StreamBlock {
    std::vector<uint8_t> payload;
    uint32_t size = 0;  // image bytes the block carries
    bool stored = false;
};

class BlockCompressor {
public:
    // blockSize: image bytes per block (the last one may be shorter); at most what
    // the library's receive buffer holds, since a stored block carries them as they are.
    BlockCompressor(std::span<const uint8_t> image, size_t blockSize, int level = 9);
    ~BlockCompressor();
    BlockCompressor(const BlockCompressor&) = delete;
    BlockCompressor& operator=(const BlockCompressor&) = delete;

    // The next block; false after the last one or when compression failed (Error()).
    bool Next(StreamBlock* block);
    const std::string& Error() const { return error_; }

private:
    struct Deflater;
    std::unique_ptr<Deflater> deflater_;
    std::span<const uint8_t> image_;
    size_t blockSize_;
    size_t offset_ = 0;
    std::string error_;
};

// `data` as a raw deflate stream of its own (RFC 1951, no header), finished; empty
// when deflate failed.
std::vector<uint8_t> DeflateRaw(std::span<const uint8_t> data, int level = 9);
// One ranged block as a raw deflate stream of its own (it cannot refer to other
// blocks), or nullopt when deflate does not make it smaller: it then goes stored.
std::optional<std::vector<uint8_t>> DeflateAlone(std::span<const uint8_t> data, int level = 9);

}  // namespace bootwire::stream
