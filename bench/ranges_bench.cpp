// Sending only what changed, end to end through sealbench-cli on the paced virtual
// board (VireoC_TO2, NOR, the library on the emulated core), side by side in one
// run: a reflash of 1 MiB of ARM code with one 4 KiB block changed against the
// normal FLASHING run (the boot ROM's path), a verify of the unchanged 1 MiB, and a
// layout of three images (64 KiB + 512 KiB + 2 MiB) in one session against three
// separate --fast runs, each on an erased board. Also the library's size, which
// every figure pays for at 115200 baud.
//
// Usage: ranges_bench [fast]   (fast: without the normal run, about 100 s)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_result.h"
#include "flashlib/images.h"
#include "sim_process.h"
#include "test_images.h"

extern char** environ;

namespace {

std::string Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// sealbench-cli with `args` against `port`, as a user runs it: seconds, or -1 when it failed.
double Cli(std::vector<std::string> args, const std::string& port) {
    args.insert(args.end(), {"--cpu", "VireoC_TO2", "--port", port, "--progress", "none"});
    return bench::TimedCli(std::move(args));
}

std::unique_ptr<sealtest::SimProcess> PacedBoard() {
    auto sim = std::make_unique<sealtest::SimProcess>("VireoC_TO2", std::vector<std::string>{"--pace"});
    if (!sim->ok()) std::fprintf(stderr, "vireo-sim did not start: %s\n", sim->error().c_str());
    return sim->ok() ? std::move(sim) : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const bool withNormal = !(argc > 1 && std::string(argv[1]) == "fast");
    char pattern[] = "/tmp/sealbench-ranges-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    const std::vector<uint8_t> code = sealtest::ArmCodeImage(3u << 20);
    if (code.empty()) {
        std::fprintf(stderr, "no ARM code for the images (the toolchain's libc.a)\n");
        return 1;
    }
    const std::vector<uint8_t> before(code.begin(), code.begin() + (1u << 20));
    std::vector<uint8_t> after = before;
    for (size_t i = 0; i < 4096; i += 64) after[100 * 4096 + i] ^= 0x5A;
    const std::string beforePath = Write(dir + "/before.bin", before);
    const std::string afterPath = Write(dir + "/after.bin", after);

    const size_t library =
        flashlib::BuiltinFlashLibrary(flashlib::BuiltinLibrary::NorVireoC).size() - flashlib::kCodeOffset;
    std::fprintf(stderr, "NOR library: %zu bytes of code, %.2f s at 115200 baud\n", library, library * 10 / 115200.0);
    bench::Result("ranges: the NOR library's code (loaded at 115200 baud)", static_cast<double>(library), "bytes",
                  "report", library > 0);

    {
        auto sim = PacedBoard();
        if (!sim) return 1;
        double normal = -1;
        if (withNormal) {
            normal = Cli({"flash", afterPath}, sim->serial());
            std::fprintf(stderr, "normal run of the changed 1 MiB: %.1f s\n", normal);
            bench::Result("ranges: 1 MiB ARM code, normal run (boot ROM path), paced", normal, "s", "report",
                          normal > 0);
        }
        const double first = Cli({"flash", beforePath, "--fast"}, sim->serial());
        const double reflash = Cli({"flash", afterPath, "--fast"}, sim->serial());
        const double verify = Cli({"verify", afterPath}, sim->serial());
        std::fprintf(stderr, "first --fast %.2f s, reflash of one block %.2f s, verify %.2f s\n", first, reflash,
                     verify);
        bench::Result("ranges: reflash of 1 MiB with one 4 KiB block changed, paced", reflash, "s", "<= 2.5 s",
                      reflash > 0 && reflash <= 2.5);
        if (withNormal) {
            const double speedUp = normal > 0 && reflash > 0 ? normal / reflash : 0;
            bench::Result("ranges: that reflash against the normal run", speedUp, "x", ">= 35x", speedUp >= 35);
        }
        bench::Result("ranges: verify of an unchanged 1 MiB, paced", verify, "s", "<= 2.0 s",
                      verify > 0 && verify <= 2.0);
    }

    // Bootloader, kernel and root file system on an erased board, one after the other.
    const size_t sizes[] = {64u << 10, 512u << 10, 2u << 20};
    const uint32_t offsets[] = {0, 0x40000, 0x100000};
    std::vector<std::string> paths;
    size_t at = 0;
    std::string layout;
    for (size_t i = 0; i < 3; ++i) {
        const std::vector<uint8_t> part(code.begin() + static_cast<std::ptrdiff_t>(at),
                                        code.begin() + static_cast<std::ptrdiff_t>(at + sizes[i]));
        at += sizes[i];
        paths.push_back(Write(dir + "/part" + std::to_string(i) + ".bin", part));
        layout += "[[image]]\nfile = \"" + paths.back() + "\"\noffset = " + std::to_string(offsets[i]) + "\n\n";
    }
    std::ofstream(dir + "/layout.toml") << layout;
    double separate = 0;
    {
        auto sim = PacedBoard();
        if (!sim) return 1;
        for (size_t i = 0; i < 3 && separate >= 0; ++i) {
            char address[16];
            std::snprintf(address, sizeof address, "%X", 0xA0000000u + offsets[i]);
            const double t = Cli({"flash", paths[i], "--fast", "--address", address}, sim->serial());
            separate = t < 0 ? -1 : separate + t;
        }
    }
    double together = -1;
    {
        auto sim = PacedBoard();
        if (!sim) return 1;
        together = Cli({"flash", "--layout", dir + "/layout.toml"}, sim->serial());
    }
    const double ratio = separate > 0 && together > 0 ? together / separate : 0;
    std::fprintf(stderr, "three images: separate --fast runs %.2f s, one layout %.2f s (%.2fx)\n", separate, together,
                 ratio);
    bench::Result("ranges: layout of 64 KiB + 512 KiB + 2 MiB, paced", together, "s", "report", together > 0);
    bench::Result("ranges: that layout against three separate --fast runs", ratio, "x", "<= 0.8x",
                  ratio > 0 && ratio <= 0.8);
    std::filesystem::remove_all(dir);
    return 0;
}
