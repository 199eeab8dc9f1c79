// The file tools' test helpers that are the same on every platform.
#include <gtest/gtest.h>

#include <random>

#include "file_test_support.h"

namespace sealbench::test {

std::string ReadText(const std::string& path) {
    auto bytes = ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

void WriteText(const std::string& path, const std::string& text) { WriteBytes(path, {text.begin(), text.end()}); }

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(generator());
    }
    return bytes;
}

std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "text does not end with CR LF";
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.find('\n'), std::string::npos) << "bare line feed in: " << line;
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> NulSeparated(const std::string& path) {
    const std::string raw = ReadText(path);
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t nul; (nul = raw.find('\0', start)) != std::string::npos; start = nul + 1) {
        parts.push_back(raw.substr(start, nul - start));
    }
    return parts;
}

}  // namespace sealbench::test
