// Several boards flashed at once by one sealbench-cli, against real vireo-sim
// processes (their flash library run by the native model, so that the host is what
// is measured): 8 paced boards against one, and 16 unpaced boards for throughput
// and fairness.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_result.h"
#include "sim_process.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

using bench::CliPath;

std::string WriteImage(const std::string& path, size_t size) { return bench::WriteImage(path, size, 4242); }

using bench::CpuSeconds;

struct Finished : bench::Finished {
    std::string out;
    std::string err;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs sealbench-cli with its stdout in a file and its stderr beside it; kills it after `limit`.
Finished RunCli(std::vector<std::string> args, const std::string& outFile, std::chrono::seconds limit) {
    const auto start = Clock::now();
    const std::string errFile = outFile + ".err";
    Finished f;
    static_cast<bench::Finished&>(f) =
        bench::WaitCli(bench::SpawnCli(std::move(args), {outFile, errFile}), start, limit);
    f.out = ReadText(outFile);
    f.err = ReadText(errFile);
    return f;
}

// Boards whose flash library runs natively: the emulated core would make the boards,
// not the host, the bottleneck on a small machine.
std::vector<std::unique_ptr<sealtest::SimProcess>> StartBoards(int count, bool paced) {
    std::vector<std::unique_ptr<sealtest::SimProcess>> boards;
    std::vector<std::string> extra{"--flashlib", "model"};
    if (paced) extra.push_back("--pace");
    for (int i = 0; i < count; ++i) {
        boards.push_back(std::make_unique<sealtest::SimProcess>("VireoC_TO2", extra));
        if (!boards.back()->ok()) {
            std::fprintf(stderr, "vireo-sim did not start: %s\n", boards.back()->error().c_str());
            return {};
        }
    }
    return boards;
}

std::vector<std::string> FlashArgs(const std::string& image,
                                   const std::vector<std::unique_ptr<sealtest::SimProcess>>& boards) {
    std::vector<std::string> args{"flash", image, "--cpu", "VireoC_TO2", "--progress", "none"};
    for (const auto& board : boards) args.insert(args.end(), {"--port", board->serial()});
    return args;
}

void PacedEight(const std::string& dir) {
    std::string image = WriteImage(dir + "/paced.bin", 0x40000);
    std::string out = dir + "/paced.out";
    auto one = StartBoards(1, true);
    if (one.empty()) return;
    Finished single = RunCli(FlashArgs(image, one), out, std::chrono::seconds(300));
    one.clear();
    auto eight = StartBoards(8, true);
    if (eight.empty()) return;
    Finished all = RunCli(FlashArgs(image, eight), out, std::chrono::seconds(600));
    eight.clear();
    std::fprintf(stderr,
                 "paced 256 KiB: one board exit %d in %.1f s; eight boards exit %d in %.1f s, %.2f s CPU, %ld KiB\n",
                 single.status, single.seconds, all.status, all.seconds, CpuSeconds(all.usage), all.usage.ru_maxrss);
    bool ok = single.status == 0 && all.status == 0;
    double ratio = single.seconds > 0 ? all.seconds / single.seconds : 0;
    bench::Result("8 paced boards, 256 KiB each: wall time / one board's", ratio, "x", "<= 1.10", ok && ratio <= 1.10);
    double share = all.seconds > 0 ? 100.0 * CpuSeconds(all.usage) / all.seconds : 0;
    bench::Result("8 paced boards: host CPU of sealbench-cli (" + std::to_string(static_cast<int>(all.seconds)) + " s)",
                  share, "% core", "< 5 %", ok && share < 5.0);
    double mib = all.usage.ru_maxrss / 1024.0;
    bench::Result("8 paced boards: sealbench-cli peak RSS", mib, "MiB", "< 64 MiB", ok && mib < 64);
}

void UnpacedSixteen(const std::string& dir) {
    std::string image = WriteImage(dir + "/unpaced.bin", 0x100000);
    auto boards = StartBoards(16, false);
    if (boards.empty()) return;
    Finished all = RunCli(FlashArgs(image, boards), dir + "/unpaced.out", std::chrono::seconds(600));
    boards.clear();
    // The figures table on standard error: "NAME  OK  BYTES bytes  SECONDS s  N try".
    std::regex figures(R"(\s+OK\s+(\d+) bytes\s+([0-9.]+) s\s)");
    std::vector<double> times;
    double bytes = 0;
    std::istringstream lines(all.err);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, figures)) {
            bytes += std::stod(m[1]);
            times.push_back(std::stod(m[2]));
        }
    }
    bool ok = all.status == 0 && times.size() == 16;
    std::sort(times.begin(), times.end());
    double throughput = all.seconds > 0 ? bytes / all.seconds / (1024 * 1024) : 0;
    double spread = ok && times.front() > 0 ? times.back() / times.front() : 0;
    std::fprintf(stderr, "16 unpaced boards of 1 MiB: exit %d in %.1f s, boards %.1f to %.1f s\n", all.status,
                 all.seconds, ok ? times.front() : 0, ok ? times.back() : 0);
    bench::Result("16 unpaced boards, 1 MiB each: total throughput", throughput, "MiB/s", "(figure)", ok);
    bench::Result("16 unpaced boards: slowest board / fastest", spread, "x", "<= 1.5", ok && spread <= 1.5);
}

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/sealbench-boards-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    std::string dir = pattern;
    std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "unpaced") UnpacedSixteen(dir);
    if (only.empty() || only == "paced") PacedEight(dir);
    std::filesystem::remove_all(dir);
    return 0;
}
