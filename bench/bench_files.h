// What the benchmarks that run sealbench-cli as a process share: where it is, and
// the image files they hand it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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

// Starts sealbench-cli with `args`, its standard output (and, with quietErrors, its
// standard error) going to /dev/null; -1 when it could not be started.
inline pid_t SpawnCli(std::vector<std::string> args, bool quietErrors = true) {
    args.insert(args.begin(), CliPath());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (quietErrors) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs sealbench-cli with `args` (output as SpawnCli sends it) to its end, killed
// after `limit` seconds: the seconds it took, or -1 when it failed.
inline double TimedCli(std::vector<std::string> args, double limit = 600) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto since = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    const pid_t pid = SpawnCli(std::move(args), false);
    if (pid < 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (since() > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(20000);
    }
    const double seconds = since();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace bench
