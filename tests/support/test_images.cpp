#include "test_images.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "sim_process.h"

namespace sealtest {

std::vector<uint8_t> ArmCodeImage(size_t size) {
    const std::vector<unsigned char> archive = ReadFile(ARM_LIBC_PATH);
    constexpr size_t kMagic = 8, kHeader = 60;
    std::vector<uint8_t> image;
    if (archive.size() < kMagic || std::memcmp(archive.data(), "!<arch>\n", kMagic) != 0) return image;
    image.reserve(size);
    // The members in order; the symbol index and the name table are not code.
    while (image.size() < size) {
        size_t at = kMagic;
        const size_t before = image.size();
        while (at + kHeader <= archive.size() && image.size() < size) {
            const std::string header(archive.begin() + static_cast<ptrdiff_t>(at),
                                     archive.begin() + static_cast<ptrdiff_t>(at + kHeader));
            const size_t length = std::strtoul(header.substr(48, 10).c_str(), nullptr, 10);
            const size_t body = at + kHeader;
            if (body + length > archive.size()) break;
            if (length >= 4 && std::memcmp(&archive[body],
                                           "\x7f"
                                           "ELF",
                                           4) == 0) {
                const size_t take = std::min(length, size - image.size());
                image.insert(image.end(), archive.begin() + static_cast<ptrdiff_t>(body),
                             archive.begin() + static_cast<ptrdiff_t>(body + take));
            }
            at = body + length + (length & 1);
        }
        if (image.size() == before) break;
    }
    if (image.size() < size) image.clear();
    return image;
}

std::vector<uint8_t> NoiseImage(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint64_t x = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<uint8_t>(x >> 32);
    }
    return bytes;
}

}  // namespace sealtest
