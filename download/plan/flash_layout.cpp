#include "download/plan/flash_layout.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>

#include "download/plan/download_layout.h"
#include "download/plan/run_plan.h"

namespace sealbench {
namespace {

// A layout is a page of text; anything larger is not one.
constexpr std::uintmax_t kLayoutFileLimit = 1u << 20;

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

struct Refusal {
    int line = 0;
    std::string text;
};

int LineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }
int LineOf(const toml::key& key) { return static_cast<int>(key.source().begin.line); }

class Parser {
public:
    Parser(std::string_view name, std::string folder, FlashType type)
        : name_(name), folder_(std::move(folder)), nand_(type == FlashType::Nand) {}

    Result<FlashLayout> Parse(std::string_view text) {
        toml::table root;
        try {
            root = toml::parse(text, std::string(name_));
        } catch (const toml::parse_error& error) {
            return Refuse(static_cast<int>(error.source().begin.line),
                          "not a TOML file: " + std::string(error.description()));
        }
        FlashLayout layout;
        const toml::node* images = nullptr;
        for (auto&& [key, node] : root) {
            const std::string_view word = key.str();
            if (word == "mem-init") {
                const auto script = node.value<std::string>();
                if (!script || script->empty()) return Refuse(LineOf(node), "mem-init names a script file");
                layout.memInitScript = Resolve(*script);
                layout.memInitLine = LineOf(node);
            } else if (word == "verify") {
                if (!node.is_boolean()) return Refuse(LineOf(node), "verify is true or false");
                verify_ = node.value_or(true);
            } else if (word == "partitions") {
                if (!ReadPartitions(node)) return Refused();
            } else if (word == "image") {
                images = &node;
            } else {
                return Refuse(LineOf(key), "unknown key '" + std::string(word) +
                                               "' (a layout has mem-init, verify, partitions and [[image]] tables)");
            }
        }
        const toml::array* list = images ? images->as_array() : nullptr;
        if (images && (!list || !list->is_array_of_tables())) {
            return Refuse(LineOf(*images), "images are [[image]] tables");
        }
        if (!list || list->empty()) return Refuse(1, "the layout names no image: add an [[image]] table");
        for (const toml::node& node : *list) {
            std::optional<LayoutImage> image = ReadImage(*node.as_table());
            if (!image) return Refused();
            layout.images.push_back(std::move(*image));
        }
        return {Outcome::Success(), std::move(layout)};
    }

private:
    struct Partition {
        uint32_t offset = 0;
        uint32_t size = 0;
        int line = 0;
    };

    Result<FlashLayout> Refuse(int line, std::string text) {
        refusal_ = {line, std::move(text)};
        return Refused();
    }
    Result<FlashLayout> Refused() const {
        return {Outcome::Failure(FailureKind::Input,
                                 std::string(name_) + ":" + std::to_string(refusal_.line) + ": " + refusal_.text),
                {}};
    }
    bool Fail(int line, std::string text) {
        refusal_ = {line, std::move(text)};
        return false;
    }

    std::string Resolve(const std::string& file) const {
        const std::filesystem::path path(file);
        return path.is_absolute() || folder_.empty() ? file : (std::filesystem::path(folder_) / path).string();
    }

    // A number of the file: a TOML integer from 0 to 0xFFFFFFFF.
    bool Number(const toml::node& node, std::string_view what, uint32_t* value) {
        const std::optional<int64_t> number = node.value<int64_t>();
        if (!node.is_integer() || !number || *number < 0 || *number > 0xFFFFFFFFll) {
            return Fail(LineOf(node), std::string(what) + " is a whole number from 0 to 0xFFFFFFFF");
        }
        *value = static_cast<uint32_t>(*number);
        return true;
    }

    bool ReadPartitions(const toml::node& node) {
        const toml::table* table = node.as_table();
        if (!table) return Fail(LineOf(node), "partitions is a table of name = { offset = ..., size = ... }");
        if (!nand_) return Fail(LineOf(node), "partitions are for NAND flash; NOR images take an offset");
        for (auto&& [key, value] : *table) {
            const toml::table* fields = value.as_table();
            const std::string name(key.str());
            if (!fields) return Fail(LineOf(key), "partition " + name + " is { offset = ..., size = ... }");
            Partition p;
            p.line = LineOf(key);
            bool haveOffset = false, haveSize = false;
            for (auto&& [field, v] : *fields) {
                if (field.str() == "offset") {
                    if (!Number(v, "offset", &p.offset)) return false;
                    haveOffset = true;
                } else if (field.str() == "size") {
                    if (!Number(v, "size", &p.size)) return false;
                    haveSize = true;
                } else {
                    return Fail(LineOf(field), "unknown key '" + std::string(field.str()) + "' in partition " + name +
                                                   " (it has offset and size)");
                }
            }
            if (!haveOffset || !haveSize) return Fail(p.line, "partition " + name + " needs an offset and a size");
            if (p.offset % kNandBlockSize != 0) {
                return Fail(p.line, "partition " + name + " must start on a NAND block (a multiple of 0x4000)");
            }
            if (p.size == 0 || uint64_t{p.offset} + p.size > kNandFlashSize) {
                return Fail(p.line, "partition " + name + " must hold at least one byte and end within the " +
                                        std::to_string(kNandFlashSize >> 20) + " MiB of NAND flash");
            }
            for (const auto& [other, q] : partitions_) {
                if (p.offset < uint64_t{q.offset} + q.size && q.offset < uint64_t{p.offset} + p.size) {
                    return Fail(p.line, "partition " + name + " overlaps partition " + other + " (line " +
                                            std::to_string(q.line) + ")");
                }
            }
            partitions_[name] = p;
        }
        return true;
    }

    std::optional<LayoutImage> ReadImage(const toml::table& table) {
        LayoutImage image;
        image.verify = verify_;
        image.line = LineOf(table);
        bool haveOffset = false;
        for (auto&& [key, node] : table) {
            const std::string_view word = key.str();
            if (word == "file") {
                const auto file = node.value<std::string>();
                if (!file || file->empty()) return Fail(LineOf(node), "file names the image file"), std::nullopt;
                image.file = *file;
                image.path = Resolve(*file);
                image.line = LineOf(node);
            } else if (word == "offset") {
                if (nand_) {
                    Fail(LineOf(node), "a NAND image goes into a partition: name it with partition = \"...\"");
                    return std::nullopt;
                }
                if (!Number(node, "offset", &image.offset)) return std::nullopt;
                if (image.offset % 2 != 0) {
                    Fail(LineOf(node), "a NOR image must start on an even offset (the flash takes 16-bit words)");
                    return std::nullopt;
                }
                haveOffset = true;
            } else if (word == "partition") {
                const auto name = node.value<std::string>();
                if (!nand_) {
                    Fail(LineOf(node), "partitions are for NAND flash; a NOR image takes an offset");
                    return std::nullopt;
                }
                if (!name || partitions_.count(*name) == 0) {
                    Fail(LineOf(node), "partition names one of the [partitions] table");
                    return std::nullopt;
                }
                image.partition = *name;
            } else if (word == "verify") {
                if (!node.is_boolean()) return Fail(LineOf(node), "verify is true or false"), std::nullopt;
                image.verify = node.value_or(true);
            } else {
                Fail(LineOf(key), "unknown key '" + std::string(word) + "' in an image (it has file, " +
                                      (nand_ ? "partition" : "offset") + " and verify)");
                return std::nullopt;
            }
        }
        if (image.file.empty()) return Fail(LineOf(table), "an [[image]] needs a file"), std::nullopt;
        if (!nand_ && !haveOffset) {
            return Fail(image.line, "image " + image.file + " needs an offset into the NOR flash"), std::nullopt;
        }
        if (nand_) {
            if (image.partition.empty()) {
                return Fail(image.line, "image " + image.file + " needs a partition of the NAND flash"), std::nullopt;
            }
            const Partition& p = partitions_[image.partition];
            image.offset = p.offset;
            image.partitionSize = p.size;
        }
        return image;
    }

    std::string_view name_;
    std::string folder_;
    bool nand_;
    bool verify_ = true;
    std::map<std::string, Partition> partitions_;
    Refusal refusal_;
};

Outcome LineRefusal(std::string_view name, int line, const std::string& text) {
    return Outcome::Failure(FailureKind::Input, std::string(name) + ":" + std::to_string(line) + ": " + text);
}

}  // namespace

uint64_t FlashLayout::TotalBytes() const {
    uint64_t total = 0;
    for (const LayoutImage& image : images) total += image.size;
    return total;
}

Result<FlashLayout> ParseLayout(std::string_view text, std::string_view name, const std::string& folder,
                                FlashType flashType) {
    if (flashType != FlashType::Nor && flashType != FlashType::Nand) {
        return {Outcome::Failure(FailureKind::Input,
                                 "A layout is written by the built-in flash library: choose NOR or NAND flash"),
                {}};
    }
    return Parser(name, folder, flashType).Parse(text);
}

Outcome CheckPlacement(const FlashLayout& layout, std::string_view name, FlashType flashType) {
    const bool nand = flashType == FlashType::Nand;
    for (size_t i = 0; i < layout.images.size(); ++i) {
        const LayoutImage& a = layout.images[i];
        if (nand && a.size > a.partitionSize) {
            return LineRefusal(name, a.line,
                               a.file + " (" + std::to_string(a.size) + " bytes) does not fit partition " +
                                   a.partition + " (" + std::to_string(a.partitionSize) + " bytes)");
        }
        if (!nand && uint64_t{a.offset} + a.size > kNorFlashSize) {
            return LineRefusal(name, a.line,
                               a.file + " at offset " + Hex(a.offset) + " (" + std::to_string(a.size) +
                                   " bytes) runs past the end of the " + std::to_string(kNorFlashSize >> 20) +
                                   " MiB of NOR flash");
        }
        const uint64_t aEnd = a.offset + uint64_t{nand ? a.partitionSize : static_cast<uint32_t>(a.size)};
        for (size_t j = 0; j < i; ++j) {
            const LayoutImage& b = layout.images[j];
            const uint64_t bEnd = b.offset + uint64_t{nand ? b.partitionSize : static_cast<uint32_t>(b.size)};
            if (a.offset < bEnd && b.offset < aEnd) {
                const uint64_t from = std::max<uint64_t>(a.offset, b.offset);
                const uint64_t to = std::min(aEnd, bEnd) - 1;
                return LineRefusal(name, a.line,
                                   a.file + " overlaps " + b.file + " (line " + std::to_string(b.line) +
                                       ") at offsets " + Hex(from) + " to " + Hex(to));
            }
        }
    }
    return Outcome::Success();
}

Result<FlashLayout> LoadLayout(const std::string& path, FlashType flashType) {
    const std::filesystem::path file(path);
    const std::string name = file.filename().string();
    if (std::string problem = FileProblem(path, "The layout file"); !problem.empty()) {
        return {Outcome::Failure(FailureKind::File, problem), {}};
    }
    std::error_code error;
    if (std::filesystem::file_size(file, error) > kLayoutFileLimit || error) {
        return {Outcome::Failure(FailureKind::Input,
                                 "The layout file " + path + " is not a layout: it is larger than 1 MiB"),
                {}};
    }
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Result<FlashLayout> parsed = ParseLayout(text, name, file.parent_path().string(), flashType);
    if (!parsed.Ok()) return parsed;
    FlashLayout& layout = parsed.value;
    layout.path = path;
    if (!layout.memInitScript.empty()) {
        if (std::string problem = FileProblem(layout.memInitScript, "the memory-init script"); !problem.empty()) {
            return {LineRefusal(name, layout.memInitLine, problem), {}};
        }
    }
    for (LayoutImage& image : layout.images) {
        if (std::string problem = FileProblem(image.path, "the image file"); !problem.empty()) {
            return {LineRefusal(name, image.line, problem), {}};
        }
        image.size = FileSizeOf(image.path).value_or(0);
        if (image.size == 0) return {LineRefusal(name, image.line, "the image file " + image.path + " is empty"), {}};
        if (image.size > kMaxImageSize) {
            return {LineRefusal(name, image.line, "the image file " + image.path + " is larger than 32 MiB"), {}};
        }
    }
    if (Outcome placed = CheckPlacement(layout, name, flashType); !placed.Ok()) return {placed, {}};
    return parsed;
}

}  // namespace sealbench
