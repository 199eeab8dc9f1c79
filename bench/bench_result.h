// One line of the benchmark table. bench/run collects the lines that start with
// "RESULT|" from every benchmark program and prints them as one table.
#pragma once

#include <cstdio>
#include <string>

namespace bench {

inline void Result(const std::string& name, double value, const char* unit, const char* goal, bool met) {
    std::printf("RESULT|%s|%.3g %s|%s|%s\n", name.c_str(), value, unit, goal, met ? "yes" : "NO");
    std::fflush(stdout);
}

}  // namespace bench
