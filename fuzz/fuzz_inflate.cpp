// Fuzz target of the flash libraries' deflate decoder (flashlib/src/fl_inflate.c),
// compiled for the host. Whatever bytes arrive, it must read only its input and
// write only its output buffer, both allocated to their exact sizes; and what it
// decodes must be what zlib decodes from the same bytes.
//
// Input: two bytes of output size (little-endian, up to 64 KiB), one byte where
// decoding starts in the output, then the deflate data.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fl_inflate.h"

namespace {

// zlib on the same bytes from an empty window: must agree wherever both succeed.
void CompareWithZlib(const uint8_t* data, size_t size, const uint8_t* out, uint32_t produced) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return;
    std::vector<uint8_t> reference(produced + 1);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = reference.data();
    z.avail_out = static_cast<uInt>(reference.size());
    const int result = inflate(&z, Z_SYNC_FLUSH);
    const bool agreed = z.total_out == produced && std::memcmp(reference.data(), out, produced) == 0;
    const bool zlibDone = (result == Z_OK || result == Z_STREAM_END) && z.avail_in == 0;
    inflateEnd(&z);
    if (zlibDone && !agreed) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint32_t limit = data[0] | uint32_t{data[1]} << 8;
    const uint32_t start = std::min<uint32_t>(data[2], limit);
    std::vector<uint8_t> input(data + 3, data + size);
    const auto in = std::make_unique<uint8_t[]>(input.size());
    std::copy(input.begin(), input.end(), in.get());
    const auto out = std::make_unique<uint8_t[]>(limit);
    std::memset(out.get(), 0, limit);

    uint32_t pos = start;
    const int result = fl_inflate(in.get(), static_cast<uint32_t>(input.size()), out.get(), limit, &pos);
    if (pos < start || pos > limit || result < FL_INFLATE_FULL || result > FL_INFLATE_FINAL) std::abort();
    if (start == 0 && result >= 0) CompareWithZlib(in.get(), input.size(), out.get(), pos);

    // Again behind what the first call wrote, with back-references reaching into it.
    const uint32_t before = pos;
    fl_inflate(in.get(), static_cast<uint32_t>(input.size()), out.get(), limit, &pos);
    if (pos < before || pos > limit) std::abort();
    return 0;
}
