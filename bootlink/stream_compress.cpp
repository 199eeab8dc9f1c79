#include "stream_compress.h"

#include <zlib.h>

#include <algorithm>

namespace bootwire::stream {

struct BlockCompressor::Deflater {
    z_stream stream{};
    bool open = false;
    ~Deflater() {
        if (open) deflateEnd(&stream);
    }
};

BlockCompressor::BlockCompressor(std::span<const uint8_t> image, size_t blockSize, int level)
    : deflater_(std::make_unique<Deflater>()), image_(image), blockSize_(std::max<size_t>(blockSize, 1)) {
    // Raw deflate (no zlib header or trailer), the largest window, the most memory
    // for the best matches: the host's time is cheap, the line's is not.
    if (deflateInit2(&deflater_->stream, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        error_ = "the compressor could not be set up";
        return;
    }
    deflater_->open = true;
}

BlockCompressor::~BlockCompressor() = default;

bool BlockCompressor::Next(StreamBlock* block) {
    if (!deflater_->open || !error_.empty() || offset_ >= image_.size()) {
        return false;
    }
    const size_t size = std::min(blockSize_, image_.size() - offset_);
    const bool last = offset_ + size == image_.size();
    z_stream& z = deflater_->stream;
    // Room for a stored block's worst case; deflate grows the output on demand.
    std::vector<uint8_t> out(size + size / 8 + 64);
    z.next_in = const_cast<Bytef*>(image_.data() + offset_);
    z.avail_in = static_cast<uInt>(size);
    size_t produced = 0;
    for (;;) {
        z.next_out = out.data() + produced;
        z.avail_out = static_cast<uInt>(out.size() - produced);
        const int result = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
        produced = out.size() - z.avail_out;
        if (result == Z_STREAM_ERROR) {
            error_ = "the compressor failed";
            return false;
        }
        // Done when the input is used up and deflate had room to spare (so it has
        // flushed everything), or when the stream ended.
        if (result == Z_STREAM_END || (z.avail_in == 0 && z.avail_out != 0)) {
            break;
        }
        out.resize(out.size() * 2);
    }
    out.resize(produced);

    block->size = static_cast<uint32_t>(size);
    if (out.size() >= size) {
        // The stream went on through this block (the next block's matches may
        // refer to it), but the line carries the bytes themselves.
        block->payload.assign(image_.begin() + static_cast<ptrdiff_t>(offset_),
                              image_.begin() + static_cast<ptrdiff_t>(offset_ + size));
        block->stored = true;
    } else {
        block->payload = std::move(out);
        block->stored = false;
    }
    offset_ += size;
    return true;
}

std::vector<uint8_t> DeflateRaw(std::span<const uint8_t> data, int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(result == Z_STREAM_END ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

std::optional<std::vector<uint8_t>> DeflateAlone(std::span<const uint8_t> data, int level) {
    std::vector<uint8_t> out = data.empty() ? std::vector<uint8_t>() : DeflateRaw(data, level);
    if (out.empty() || out.size() >= data.size()) return std::nullopt;
    return out;
}

}  // namespace bootwire::stream
