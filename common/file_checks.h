// The checks every file tool makes before it reads or writes anything. An input
// must be a regular file: a FIFO would hold the tool in open() or hand it data its
// size never announced, and a device like /dev/zero never ends. An output must not
// be one of the inputs, or the tool would destroy what it is reading. Both answer
// with the sentence the user is shown, or nothing when all is well.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace sealbench {

// What a path names, for messages: "a folder", "a FIFO", "a character device"...;
// "a regular file" for one, and nullopt when it names nothing that can be examined.
std::optional<std::string> FileKindOf(const std::string& path);

// The refusal for an input that exists but is not a regular file. A path that names
// nothing passes: each tool says in its own words that its input is missing.
std::optional<std::string> RefuseNonRegularInput(const std::string& path);

// The refusal when `output` is the same file as one of `inputs`: the same file
// system object (device and inode), however the paths are spelled or linked.
std::optional<std::string> RefuseOutputOverInput(const std::string& output,
                                                 std::initializer_list<std::string_view> inputs);

}  // namespace sealbench
