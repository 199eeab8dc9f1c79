#include "options.h"

#include <algorithm>
#include <numeric>

namespace sealbench::cli {

CLI::Validator HexValue() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return ParseHexStrict(text) ? std::string() : "not a hexadecimal value of 1 to 8 digits: " + text;
        },
        "HEX");
}

namespace {

size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), size_t{0});
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            size_t replace = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            row[j] = std::min({above + 1, row[j - 1] + 1, replace});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::optional<std::string> NearestName(std::string_view word, const std::vector<std::string>& names) {
    std::optional<std::string> best;
    size_t bestDistance = 0;
    for (const std::string& name : names) {
        size_t distance = EditDistance(word, name);
        // A word that starts a name ("sekurel") means that name before any other.
        if (name.starts_with(word) && !word.empty()) {
            distance = std::min<size_t>(distance, 1);
        }
        if (!best || distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    }
    return best;
}

std::optional<std::string> CommandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (!word.empty() && word.front() != '-') {
            return std::string(word);
        }
    }
    return std::nullopt;
}

}  // namespace sealbench::cli
