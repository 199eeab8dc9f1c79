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
inline constexpr std::string_view kMsgCsfSelectFile = "Please select the file first";

// The text after the last folder separator, or the whole text without one. A
// backslash always separates (Windows paths); a forward slash separates where the
// build's own paths use it (POSIX), so that a key chosen on Linux is named by its
// file, not by its whole path.
std::string FileNameOfPath(std::string_view path, bool slashSeparates);
// With the build's own rule.
std::string FileNameOfPath(std::string_view path);
inline constexpr bool kSlashSeparatesFolders = SEALBENCH_SLASH_SEPARATES_FOLDERS;

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

// A block's own fields: a file name, and the start and length as numbers (0x
// followed by up to eight hexadecimal digits, or decimal). The refusal names the
// block by its number (BLOCK1 first); nullopt when the block is in form.
std::optional<std::string> CheckCsfBlock(const CsfBlock& block, size_t number);

// The first failed check, or nullopt: the page's five checks in their order, then
// every text that reaches the file must be free of control characters (a line
// break would add lines of the user's making to what the signing tool obeys), then
// each block must be in form.
std::optional<std::string> ValidateCsf(const CsfDocument& document);

// The file's text, every line ending CR LF. Texts are inserted as held.
std::string CsfText(const CsfDocument& document);

// The UID field's text when "User define" is set (the start of a number to type)
// and when it is cleared.
std::string_view UidFieldText(bool userDefine);

// What the "Add blocks" dialog hands over of its path field: its first line, at
// most 256 characters; nullopt for an empty field ("Please select the file first").
std::optional<std::string> AddBlockPath(std::string_view field);

// Validates, then writes the file whole (or not at all). A failure's message is
// the validation message or the reason the file could not be written.
Outcome SaveCsf(const std::string& path, const CsfDocument& document);

}  // namespace sealbench
