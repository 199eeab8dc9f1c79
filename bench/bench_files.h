// What the benchmarks that run sealbench-cli as a process share: where it is, and
// the image files they hand it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

// Where a started sealbench-cli's standard output and error go: a file, created or
// emptied, or /dev/null; an empty path leaves the stream as this program has it.
struct CliOutput {
    std::string out = "/dev/null";
    std::string err = "/dev/null";
};

// Starts sealbench-cli with `args`; -1 when it could not be started.
inline pid_t SpawnCli(std::vector<std::string> args, const CliOutput& output = {}) {
    args.insert(args.begin(), CliPath());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    if (!output.out.empty()) posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.out.c_str(), flags, 0644);
    if (!output.err.empty()) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, output.err.c_str(), flags, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// How a sealbench-cli run ended: its exit status (-1 when it was killed or never
// ran), what it used, and how long it took from `start`.
struct Finished {
    int status = -1;
    rusage usage{};
    double seconds = 0;
};

// Waits for the child `pid`, started at `start`; kills it once `limit` has passed.
inline Finished WaitCli(pid_t pid, std::chrono::steady_clock::time_point start, std::chrono::seconds limit) {
    using Clock = std::chrono::steady_clock;
    Finished f;
    if (pid < 0) return f;
    int status = 0;
    while (wait4(pid, &status, WNOHANG, &f.usage) == 0) {
        if (Clock::now() - start > limit) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &f.usage);
            return f;
        }
        usleep(20000);
    }
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return f;
}

inline double CpuSeconds(const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs sealbench-cli with `args` (its standard error shown) to its end, killed
// after `limit` seconds: the seconds it took, or -1 when it failed.
inline double TimedCli(std::vector<std::string> args, int limit = 600) {
    const auto start = std::chrono::steady_clock::now();
    const Finished f =
        WaitCli(SpawnCli(std::move(args), CliOutput{"/dev/null", ""}), start, std::chrono::seconds(limit));
    return f.status == 0 ? f.seconds : -1;
}

}  // namespace bench
