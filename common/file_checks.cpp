#include "common/file_checks.h"

#include <filesystem>
#include <system_error>

namespace sealbench {

namespace fs = std::filesystem;

std::optional<std::string> FileKindOf(const std::string& path) {
    std::error_code error;
    fs::file_status status = fs::status(path, error);
    switch (status.type()) {
        case fs::file_type::regular:
            return "a regular file";
        case fs::file_type::directory:
            return "a folder";
        case fs::file_type::fifo:
            return "a FIFO";
        case fs::file_type::character:
            return "a character device";
        case fs::file_type::block:
            return "a block device";
        case fs::file_type::socket:
            return "a socket";
        case fs::file_type::none:
        case fs::file_type::not_found:
            return std::nullopt;
        default:
            return "not a regular file";
    }
}

std::optional<std::string> RefuseNonRegularInput(const std::string& path) {
    std::optional<std::string> kind = FileKindOf(path);
    if (!kind || *kind == "a regular file") {
        return std::nullopt;
    }
    return path + " is not a regular file (it is " + *kind + "): only regular files can be read";
}

std::optional<std::string> RefuseOutputOverInput(const std::string& output,
                                                 std::initializer_list<std::string_view> inputs) {
    if (output.empty()) {
        return std::nullopt;
    }
    for (std::string_view input : inputs) {
        std::error_code error;
        if (!input.empty() && fs::equivalent(fs::path(output), fs::path(input), error) && !error) {
            return "The output file " + output + " is the input file " + std::string(input) +
                   ": writing it would destroy the input. Choose another output file";
        }
    }
    return std::nullopt;
}

}  // namespace sealbench
