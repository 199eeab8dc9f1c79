// The combine's field checks and layout over arbitrary address texts and piece
// sizes: no read past a short field, no piece outside the image, no overlap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/address_text.h"
#include "imagebuild/combine.h"

namespace {

std::string Take(std::string_view& input, size_t length) {
    length = std::min(length, input.size());
    std::string piece(input.substr(0, length));
    input.remove_prefix(length);
    return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) {
        return 0;
    }
    // Three field lengths (0..15), then the fields, then three piece sizes.
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t lengths[3] = {static_cast<size_t>(data[0] & 15), static_cast<size_t>(data[0] >> 4),
                         static_cast<size_t>(data[1] & 15)};
    size_t pieceSizes[3] = {static_cast<size_t>(data[2]) * 64, static_cast<size_t>(data[3]) * 32,
                            static_cast<size_t>(data[4]) * 4};
    input.remove_prefix(5);
    sealbench::CombineAddresses addresses;
    addresses.image = Take(input, lengths[0]);
    addresses.csf = Take(input, lengths[1]);
    addresses.hwc = Take(input, lengths[2]);

    auto refusal = sealbench::CheckCombineFields("target", addresses);
    if (!refusal && (!sealbench::IsAddressText(addresses.image) || !sealbench::IsAddressText(addresses.csf) ||
                     !sealbench::IsAddressText(addresses.hwc))) {
        std::abort();
    }

    std::vector<uint8_t> os(pieceSizes[0], 0xA1), csf(pieceSizes[1], 0xC2), hwc(pieceSizes[2], 0xE3);
    auto image = sealbench::LayOutCombinedImage(addresses, os, csf, hwc);
    if (!image) {
        return 0;
    }
    struct Piece {
        uint32_t offset;
        const std::vector<uint8_t>& bytes;
    } pieces[] = {{sealbench::AddressOffset(addresses.image), os},
                  {sealbench::AddressOffset(addresses.csf), csf},
                  {sealbench::AddressOffset(addresses.hwc), hwc}};
    for (const Piece& piece : pieces) {
        if (piece.bytes.empty()) {
            continue;
        }
        if (piece.offset < 0x1010 || piece.offset + piece.bytes.size() > image->size()) {
            std::abort();
        }
        for (size_t i = 0; i < piece.bytes.size(); ++i) {
            if ((*image)[piece.offset + i] != piece.bytes[i]) {
                std::abort();
            }
        }
    }
    auto word = sealbench::AddressToBytes(addresses.image);
    for (size_t i = 0; i < 4; ++i) {
        if ((*image)[i] != word[i] || (*image)[0x1008 + i] != word[i]) {
            std::abort();
        }
    }
    return 0;
}
