// SHA-256 (FIPS 180-4) of an image, for the record of which board got what. The
// build has no crypto library, and a digest of a file needs none: this small one
// keeps the packages and the Windows build free of a new dependency.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sealbench {

class Sha256 {
public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    void Update(std::span<const uint8_t> bytes);
    // The digest of everything given; the object is spent afterwards.
    Digest Finish();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t length_ = 0;  // bytes given so far
};

// The digest in lower-case hex, as sha256sum prints it.
std::string Sha256Hex(std::span<const uint8_t> bytes);

}  // namespace sealbench
