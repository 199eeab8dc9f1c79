// Binary to S-record speed and memory: sealbench-cli srec against binutils'
// `objcopy -I binary -O srec --srec-len=32` on the same 32 MiB random file in the
// same run, 32 data bytes a record, both writing S3 records. Each tool runs five
// times, alternating; the table shows the median wall time, the median CPU time
// (user + system) and the peak resident set of each, and the ratio ours/objcopy.
// Goals: wall-time ratio <= 0.5; our peak RSS < 8 MiB whatever the input size.
//
// Usage: srec_bench [folder for the files, default /dev/shm or else /tmp] [MiB, default 32]
// sealbench-cli is taken from the folder that holds srec_bench.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_result.h"

extern char** environ;

namespace {

struct Sample {
    double wall = 0;
    double cpu = 0;
    long peakKiB = 0;
};

Sample RunOnce(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", args[0]);
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
    }
    auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", args[0]);
        std::exit(1);
    }
    Sample sample;
    sample.wall = std::chrono::duration<double>(end - start).count();
    sample.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    sample.peakKiB = usage.ru_maxrss;
    return sample;
}

Sample Median(std::vector<Sample> samples) {
    auto mid = samples.size() / 2;
    Sample result;
    std::sort(samples.begin(), samples.end(), [](auto& a, auto& b) { return a.wall < b.wall; });
    result.wall = samples[mid].wall;
    std::sort(samples.begin(), samples.end(), [](auto& a, auto& b) { return a.cpu < b.cpu; });
    result.cpu = samples[mid].cpu;
    for (auto& s : samples) {
        result.peakKiB = std::max(result.peakKiB, s.peakKiB);
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    fs::path folder = argc > 1 ? fs::path(argv[1]) : (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
    size_t mebibytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 32;
    fs::path cli = fs::canonical("/proc/self/exe").parent_path() / "sealbench-cli";

    fs::path work = folder / ("srec-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    fs::path input = work / "in.bin";
    {
        // Written a mebibyte at a time: a child's peak RSS includes what its parent
        // held when it was spawned, so the bench itself must stay small.
        std::ofstream out(input, std::ios::binary);
        std::vector<uint64_t> chunk((1 << 20) / sizeof(uint64_t));
        std::mt19937_64 random(42);
        for (size_t m = 0; m < mebibytes; ++m) {
            for (auto& word : chunk) {
                word = random();
            }
            out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(1 << 20));
        }
    }
    std::vector<Sample> ours, theirs;
    for (int round = 0; round < 5; ++round) {
        ours.push_back(RunOnce({cli.string(), "srec", input.string(), (work / "ours.s19").string()}));
        theirs.push_back(RunOnce({"objcopy", "-I", "binary", "-O", "srec", "--srec-len=32", input.string(),
                                  (work / "objcopy.s19").string()}));
    }
    Sample a = Median(ours), b = Median(theirs);
    std::printf("srec %zu MiB random, 32 data bytes a record, files in %s\n", mebibytes, folder.c_str());
    std::printf("%-12s %10s %10s %12s\n", "tool", "wall s", "cpu s", "peak RSS");
    std::printf("%-12s %10.3f %10.3f %9ld KiB\n", "sealbench", a.wall, a.cpu, a.peakKiB);
    std::printf("%-12s %10.3f %10.3f %9ld KiB\n", "objcopy", b.wall, b.cpu, b.peakKiB);
    std::printf("ratio ours/objcopy: wall %.2f (goal <= 0.5), cpu %.2f; our peak RSS %.1f MiB (goal < 8)\n",
                a.wall / b.wall, a.cpu / b.cpu, static_cast<double>(a.peakKiB) / 1024.0);
    bench::Result("srec " + std::to_string(mebibytes) + " MiB: wall time ours/objcopy", a.wall / b.wall, "x", "<= 0.5",
                  a.wall / b.wall <= 0.5);
    bench::Result("srec " + std::to_string(mebibytes) + " MiB: peak RSS of sealbench-cli srec",
                  static_cast<double>(a.peakKiB) / 1024.0, "MiB", "< 8 MiB", a.peakKiB < 8 * 1024);
    fs::remove_all(work);
    return 0;
}
