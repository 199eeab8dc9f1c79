// The image combine: HWC, signed CSF and application image joined into one file
// that the boot ROM boots from. The three pieces sit at the offsets of their
// addresses inside one 64 KB window; a table of the three addresses is written
// at 0x1000. The download workflow reads combined files back in this layout.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"

namespace sealbench {

struct CombineAddresses {
    std::string image;
    std::string csf;
    std::string hwc;
};

// "VireoA Setting" clear (the page's opening state) or checked.
CombineAddresses AddressPreset(bool vireoA);

inline constexpr uint32_t kAddressTableOffset = 0x1000;
inline constexpr uint32_t kFirstPieceOffset = 0x1010;
inline constexpr std::string_view kImageOffsetText = "4000";

inline constexpr std::string_view kMsgNoTarget = "Please Enter target location";
inline constexpr std::string_view kMsgAddressesNotMatch = "Addresses Not Match!";
inline constexpr std::string_view kMsgAddressFormat = "Incorrect Address Format! Please Enter 8 digit Hex no.";
inline constexpr std::string_view kMsgImageNotHex = "Incorrect Image Address Input! Please Enter Hex no.";
inline constexpr std::string_view kMsgCsfNotHex = "Incorrect CSF Address Input! Please Enter Hex no.";
inline constexpr std::string_view kMsgHwcNotHex = "Incorrect HWC Address Input! Please Enter Hex no.";
inline constexpr std::string_view kMsgImageNot4000 = "Image address must start at 0x4000";
inline constexpr std::string_view kMsgCombineFailed = "File Construction Error";
inline constexpr std::string_view kMsgCombineDone = "Complete!";

// The page's checks of its fields, in their fixed order; the first failure's
// message, or nullopt when the combine may run. Address fields shorter than four
// characters are compared safely: a missing character differs from any present
// one, and equally short fields fall through to the length check.
std::optional<std::string_view> CheckCombineFields(std::string_view target, const CombineAddresses& addresses);

// The combined file's bytes, or nullopt when the pieces do not fit their places
// (HWC and CSF at 0x1010 or later, each piece ending before the next begins).
std::optional<std::vector<uint8_t>> LayOutCombinedImage(const CombineAddresses& addresses, std::span<const uint8_t> os,
                                                        std::span<const uint8_t> csf, std::span<const uint8_t> hwc);

// Reads the given number of bytes of each input, lays the pieces out and writes
// the target whole or not at all. A file that is shorter than its length, or that
// cannot be read, fails the combine.
Outcome CombineImageFiles(const std::string& target, const std::string& osPath, const std::string& csfPath,
                          const std::string& hwcPath, const CombineAddresses& addresses, int32_t osLength,
                          int32_t csfLength, int32_t hwcLength);

// The same with the page's argument order and integer result (non-zero: success).
int CombineImage(const std::string& target, const std::string& osPath, const std::string& csfPath,
                 const std::string& hwcPath, const std::string& imageAddress, const std::string& csfAddress,
                 const std::string& hwcAddress, int32_t osLength, int32_t csfLength, int32_t hwcLength);

struct CombineRequest {
    std::string target;
    std::string osPath;
    std::string csfPath;
    std::string hwcPath;
    CombineAddresses addresses;
};

// "Combine" from the fields to the written file: checks, file lengths, combine.
// The message is what the page shows: a check's message, "Complete!" or "File
// Construction Error", with the reason behind the last in the detail.
Outcome RunCombine(const CombineRequest& request);

// The page's message box after "Combine": its text, and its caption ("error" for a
// file that could not be built, else empty: the application's title).
struct CombineReport {
    std::string text;
    std::string caption;
};
CombineReport ReportOfCombine(const Outcome& outcome);

}  // namespace sealbench
