// CSF text files: what the signing tool needs to sign an image for secure boot
// (language version 3). The document holds the definitions, the certificates,
// the further keys and the blocks to sign; the writer turns it into the exact
// text, lines ending CR LF. Keys and blocks are numbered by position in the file
// (KEY2 first, BLOCK1 first), and a block is bound to every key of equal name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"

namespace sealbench {

inline constexpr std::string_view kCsfTypeEngineering = "SEKUREL_ENGINEERING";
inline constexpr std::string_view kCsfTypeProduct = "SEKUREL_PRODUCT";
inline constexpr std::string_view kCsfGenericUid = "SEKUREL_GENERIC_UID";
inline constexpr std::string_view kCsfEmptyCode = "0x";

inline constexpr std::string_view kMsgCsfNoCode = "Please Enter Code in Definition";
inline constexpr std::string_view kMsgCsfNoSuperRoot = "Please Super Root in Declaration";
inline constexpr std::string_view kMsgCsfNoCsfKey = "Please CSF Key in Declaration";
inline constexpr std::string_view kMsgCsfNoKey = "No Key Found";
inline constexpr std::string_view kMsgCsfNoBlock = "No Block Found";
inline constexpr std::string_view kMsgCsfSaved = "CSF Saved Successfully!";

// The text after the last backslash, or the whole text without one. A forward
// slash is not a separator.
std::string FileNameOfPath(std::string_view path);

struct CsfBlock {
    std::string fileName;
    std::string start;
    std::string length;
    std::string key;  // name of the key that signs it; may name no key
};

struct CsfDocument {
    std::string type = std::string(kCsfTypeEngineering);
    std::string uid = std::string(kCsfGenericUid);
    std::string code = std::string(kCsfEmptyCode);
    std::string superRootPath;
    std::string csfKeyPath;
    std::vector<std::string> keyNames;  // in list order: KEY2, KEY3, ...
    std::vector<CsfBlock> blocks;       // in list order: BLOCK1, BLOCK2, ...
};

// The first failed check in the page's order, or nullopt.
std::optional<std::string_view> ValidateCsf(const CsfDocument& document);

// The file's text, every line ending CR LF. Texts are inserted as held.
std::string CsfText(const CsfDocument& document);

// Validates, then writes the file whole (or not at all). A failure's message is
// the validation message or the reason the file could not be written.
Outcome SaveCsf(const std::string& path, const CsfDocument& document);

}  // namespace sealbench
