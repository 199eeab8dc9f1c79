// The command-line tests' own folder under /tmp, removed after each test, and the
// patterned files they hand sealbench-cli.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace sealtest {

class CliTestDir : public ::testing::Test {
protected:
    explicit CliTestDir(std::string prefix) : prefix_(std::move(prefix)) {}

    void SetUp() override {
        std::string pattern = "/tmp/" + prefix_ + "-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // `size` bytes at dir_/name, byte i being seed + i * step + (i >> shift): no two
    // nearby blocks alike, so a block sent to the wrong place shows.
    std::string PatternFile(const std::string& name, size_t size, uint8_t seed, unsigned step, unsigned shift) {
        std::string path = dir_ + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(seed + i * step + (i >> shift)));
        return path;
    }

    std::string dir_;

private:
    std::string prefix_;
};

}  // namespace sealtest
