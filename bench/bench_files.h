// What the benchmarks that run sealbench-cli as a process share: where it is, and
// the image files they hand it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_result.h"
#include "sim_process.h"

namespace bench {

// sealbench-cli, built beside vireo-sim.
inline std::string CliPath() {
    return (std::filesystem::path(sealtest::SimExecutable()).parent_path() / "sealbench-cli").string();
}

// `size` incompressible bytes at `path`; returns the path.
inline std::string WriteImage(const std::string& path, size_t size, uint32_t seed) {
    const std::vector<uint8_t> bytes = RandomBytes(size, seed);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    return path;
}

}  // namespace bench
