// The download page's runs as sealbench-cli makes them, against the real
// vireo-sim: host CPU time during a paced FLASHING run, peak memory of a 32 MiB
// download, and the time from start to the first frame on the wire.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_result.h"
#include "sim_process.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

using bench::CliPath;

std::string WriteImage(const std::string& path, size_t size) { return bench::WriteImage(path, size, 777); }

pid_t Spawn(std::vector<std::string> args) { return bench::SpawnCli(std::move(args)); }

using bench::CpuSeconds;
using bench::Finished;

Finished Wait(pid_t pid, Clock::time_point start, std::chrono::seconds limit) {
    return bench::WaitCli(pid, start, limit);
}

void PacedFlashingCpu(const std::string& dir) {
    sealtest::SimProcess sim("VireoC_TO2", {"--pace"});
    if (!sim.ok()) return;
    // About 30 s on the paced line: the library area and the image, 11,520 bytes a second.
    std::string image = WriteImage(dir + "/paced.bin", 0x40000);
    auto start = Clock::now();
    pid_t pid = Spawn({"flash", image, "--cpu", "VireoC_TO2", "--port", sim.serial(), "--progress", "plain"});
    Finished f = Wait(pid, start, std::chrono::seconds(180));
    double share = f.seconds > 0 ? 100.0 * CpuSeconds(f.usage) / f.seconds : 0;
    std::fprintf(stderr, "paced flashing: exit %d, %.1f s, %.3f s CPU\n", f.status, f.seconds, CpuSeconds(f.usage));
    bench::Result("host CPU during a paced FLASHING run (" + std::to_string(static_cast<int>(f.seconds)) + " s)", share,
                  "% core", "< 2 %", f.status == 0 && share < 2.0);
}

void DownloadPeakRss(const std::string& dir) {
    sealtest::SimProcess sim("VireoC_TO1");
    if (!sim.ok()) return;
    std::string image = WriteImage(dir + "/big.bin", 0x2000000);
    auto start = Clock::now();
    pid_t pid = Spawn({"download", image, "--cpu", "VireoC_TO1", "--port", sim.serial(), "--progress", "none"});
    Finished f = Wait(pid, start, std::chrono::seconds(600));
    double mib = f.usage.ru_maxrss / 1024.0;
    std::fprintf(stderr, "32 MiB download: exit %d, %.1f s, peak RSS %.1f MiB\n", f.status, f.seconds, mib);
    bench::Result("sealbench-cli peak RSS, 32 MiB download", mib, "MiB", "<= 40 MiB", f.status == 0 && mib <= 40);
    std::filesystem::remove(image);
}

// The bench plays the board's end of a pty and notes when the first 16 bytes arrive.
double FirstFrameMs(const std::string& image) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    std::string slave = ptsname(master);
    termios tio{};
    tcgetattr(master, &tio);
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
    auto start = Clock::now();
    pid_t pid = Spawn({"download", image, "--cpu", "VireoC_TO2", "--port", slave, "--progress", "none"});
    size_t got = 0;
    double ms = -1;
    while (got < 16 && Clock::now() - start < std::chrono::seconds(10)) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[64];
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) got += static_cast<size_t>(n);
        if (got >= 16) ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
    close(master);
    return ms;
}

void FirstFrame(const std::string& dir) {
    std::string image = WriteImage(dir + "/small.bin", 0x10000);
    std::vector<double> times;
    for (int i = 0; i < 15; ++i) {
        double ms = FirstFrameMs(image);
        if (ms >= 0) times.push_back(ms);
    }
    if (times.empty()) {
        bench::Result("sealbench-cli download: start to first frame", -1, "ms", "< 50 ms", false);
        return;
    }
    std::sort(times.begin(), times.end());
    double median = times[times.size() / 2];
    std::fprintf(stderr, "first frame: median %.1f ms, worst %.1f ms of %zu\n", median, times.back(), times.size());
    bench::Result("sealbench-cli download: start to first frame (median)", median, "ms", "< 50 ms", median < 50);
}

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/sealbench-target-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    std::string dir = pattern;
    std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "first-frame") FirstFrame(dir);
    if (only.empty() || only == "rss") DownloadPeakRss(dir);
    if (only.empty() || only == "cpu") PacedFlashingCpu(dir);
    std::filesystem::remove_all(dir);
    return 0;
}
