#include "imagebuild/combine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/address_text.h"
#include "common/atomic_file.h"
#include "common/file_checks.h"

namespace sealbench {
namespace {

// A character of an address field, or -1 where the field has ended, so that
// comparing short fields never reads past them.
int CharAt(std::string_view text, size_t position) {
    return position < text.size() ? static_cast<unsigned char>(text[position]) : -1;
}

bool WindowsMatch(const CombineAddresses& a) {
    for (size_t i = 0; i < 4; ++i) {
        if (CharAt(a.csf, i) != CharAt(a.hwc, i) || CharAt(a.csf, i) != CharAt(a.image, i) ||
            CharAt(a.hwc, i) != CharAt(a.image, i)) {
            return false;
        }
    }
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool ReadPiece(const std::string& path, int32_t length, std::vector<uint8_t>& bytes, std::string& detail) {
    if (length < 0) {
        detail = "Negative length for " + path;
        return false;
    }
    if (auto refusal = RefuseNonRegularInput(path)) {
        detail = *refusal;
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        detail = "Cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.resize(static_cast<size_t>(length));
    size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (got != bytes.size()) {
        detail = std::ferror(file.get()) ? "Cannot read " + path + ": " + std::strerror(errno)
                                         : path + " is shorter than expected";
        return false;
    }
    return true;
}

void Put(std::vector<uint8_t>& image, uint32_t offset, std::span<const uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + offset);
}

}  // namespace

CombineAddresses AddressPreset(bool vireoA) {
    if (vireoA) {
        return {"C8004000", "C8001200", "C8001010"};
    }
    return {"A0004000", "A0001200", "A0001010"};
}

std::optional<std::string_view> CheckCombineFields(std::string_view target, const CombineAddresses& a) {
    if (target.empty()) {
        return kMsgNoTarget;
    }
    if (!WindowsMatch(a)) {
        return kMsgAddressesNotMatch;
    }
    if (a.csf.size() != 8 || a.hwc.size() != 8 || a.image.size() != 8) {
        return kMsgAddressFormat;
    }
    for (size_t i = 0; i < 8; ++i) {
        if (!IsHexDigit(a.image[i])) {
            return kMsgImageNotHex;
        }
        if (!IsHexDigit(a.csf[i])) {
            return kMsgCsfNotHex;
        }
        if (!IsHexDigit(a.hwc[i])) {
            return kMsgHwcNotHex;
        }
    }
    if (std::string_view(a.image).substr(4) != kImageOffsetText) {
        return kMsgImageNot4000;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> LayOutCombinedImage(const CombineAddresses& addresses, std::span<const uint8_t> os,
                                                        std::span<const uint8_t> csf, std::span<const uint8_t> hwc) {
    const int64_t imageOffset = AddressOffset(addresses.image);
    const int64_t csfOffset = AddressOffset(addresses.csf);
    const int64_t hwcOffset = AddressOffset(addresses.hwc);
    const auto osLength = static_cast<int64_t>(os.size());
    const auto csfLength = static_cast<int64_t>(csf.size());
    const auto hwcLength = static_cast<int64_t>(hwc.size());

    if (hwcOffset < kFirstPieceOffset || csfOffset < kFirstPieceOffset || csfOffset - hwcOffset < hwcLength ||
        imageOffset - csfOffset < csfLength) {
        return std::nullopt;
    }

    // An empty piece writes nothing, so it does not stretch the file either.
    int64_t size = kAddressTableOffset + 12;
    if (hwcLength > 0) {
        size = std::max(size, hwcOffset + hwcLength);
    }
    if (csfLength > 0) {
        size = std::max(size, csfOffset + csfLength);
    }
    if (osLength > 0) {
        size = std::max(size, imageOffset + osLength);
    }

    std::vector<uint8_t> image(static_cast<size_t>(size), 0);
    const auto imageWord = AddressToBytes(addresses.image);
    Put(image, 0, imageWord);
    Put(image, kAddressTableOffset, AddressToBytes(addresses.csf));
    Put(image, kAddressTableOffset + 4, AddressToBytes(addresses.hwc));
    Put(image, kAddressTableOffset + 8, imageWord);
    Put(image, static_cast<uint32_t>(hwcOffset), hwc);
    Put(image, static_cast<uint32_t>(csfOffset), csf);
    Put(image, static_cast<uint32_t>(imageOffset), os);
    return image;
}

Outcome CombineImageFiles(const std::string& target, const std::string& osPath, const std::string& csfPath,
                          const std::string& hwcPath, const CombineAddresses& addresses, int32_t osLength,
                          int32_t csfLength, int32_t hwcLength) {
    if (auto refusal = RefuseOutputOverInput(target, {osPath, csfPath, hwcPath})) {
        return Outcome::Failure(FailureKind::Input, std::string(kMsgCombineFailed), *refusal);
    }
    std::vector<uint8_t> os, csf, hwc;
    std::string why;
    if (!ReadPiece(osPath, osLength, os, why) || !ReadPiece(csfPath, csfLength, csf, why) ||
        !ReadPiece(hwcPath, hwcLength, hwc, why)) {
        return Outcome::Failure(FailureKind::File, std::string(kMsgCombineFailed), why);
    }
    auto image = LayOutCombinedImage(addresses, os, csf, hwc);
    if (!image) {
        return Outcome::Failure(FailureKind::Input, std::string(kMsgCombineFailed),
                                "The HWC and the signed CSF do not fit between 0x1010 and the image");
    }
    Outcome written = WriteFileAtomically(target, *image);
    if (!written.Ok()) {
        return Outcome::Failure(FailureKind::File, std::string(kMsgCombineFailed), written.message);
    }
    return Outcome::Success(std::string(kMsgCombineDone));
}

int CombineImage(const std::string& target, const std::string& osPath, const std::string& csfPath,
                 const std::string& hwcPath, const std::string& imageAddress, const std::string& csfAddress,
                 const std::string& hwcAddress, int32_t osLength, int32_t csfLength, int32_t hwcLength) {
    CombineAddresses addresses{imageAddress, csfAddress, hwcAddress};
    return CombineImageFiles(target, osPath, csfPath, hwcPath, addresses, osLength, csfLength, hwcLength).Ok() ? 1 : 0;
}

Outcome RunCombine(const CombineRequest& request) {
    if (auto refusal = CheckCombineFields(request.target, request.addresses)) {
        return Outcome::Failure(FailureKind::Input, std::string(*refusal));
    }
    // A file whose status cannot be read counts as empty; opening it fails later.
    int32_t lengths[3] = {};
    const std::string* paths[3] = {&request.osPath, &request.csfPath, &request.hwcPath};
    for (int i = 0; i < 3; ++i) {
        struct stat info {};
        if (::stat(paths[i]->c_str(), &info) != 0) {
            continue;
        }
        if (info.st_size > INT32_MAX) {
            return Outcome::Failure(FailureKind::Input, std::string(kMsgCombineFailed), *paths[i] + " is too large");
        }
        lengths[i] = static_cast<int32_t>(info.st_size);
    }
    return CombineImageFiles(request.target, request.osPath, request.csfPath, request.hwcPath, request.addresses,
                             lengths[0], lengths[1], lengths[2]);
}

CombineReport ReportOfCombine(const Outcome& outcome) {
    if (outcome.Ok() || outcome.message != kMsgCombineFailed) return {outcome.message, {}};
    CombineReport report{std::string(kMsgCombineFailed), "error"};
    if (!outcome.detail.empty()) report.text += "\n\n" + outcome.detail;
    return report;
}

}  // namespace sealbench
