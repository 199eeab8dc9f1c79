// One line of the benchmark table. bench/run collects the lines that start with
// "RESULT|" from every benchmark program and prints them as one table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

inline void Result(const std::string& name, double value, const char* unit, const char* goal, bool met) {
    std::printf("RESULT|%s|%.3g %s|%s|%s\n", name.c_str(), value, unit, goal, met ? "yes" : "NO");
    std::fflush(stdout);
}

// Bytes that do not compress and repeat from run to run.
inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed = 12345) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

}  // namespace bench
