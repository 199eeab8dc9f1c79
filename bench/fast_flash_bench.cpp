// Fast serial flashing against the normal FLASHING run, side by side on the paced
// virtual board (VireoC_TO2, NOR, the library on the emulated core): 1 MiB of ARM
// code (the toolchain's libc objects) and 1 MiB of noise. The normal run is
// sealbench-cli flash, end to end; the fast run is the host's module over its own
// link, from opening the port through the memory initialisation to the verified
// end. Also the compression and the host's CPU time for the fast run.
//
// Usage: fast_flash_bench [fast] [unpaced]
//   fast: skip the normal runs (about 100 s each); unpaced: the board without
//   --pace, which shows how fast the emulated library itself takes an image.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_result.h"
#include "download/memory/memory_init.h"
#include "download/run/fast_run.h"
#include "sim_process.h"
#include "test_images.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kImageSize = 1u << 20;

std::string Line(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// sealbench-cli flash, as a user runs it; seconds, or -1 when it failed.
double NormalRun(const std::string& port, const std::string& image) {
    return bench::TimedCli({"flash", image, "--cpu", "VireoC_TO2", "--port", port, "--progress", "none"});
}

struct FastRun {
    double seconds = -1;
    double cpuSeconds = 0;
    bootwire::StreamReport report;
    bool success = false;
    std::string text;
};

FastRun FastFlash(const std::string& port, const std::vector<uint8_t>& image) {
    FastRun run;
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    bootwire::Error error = bootwire::Error::Ok;
    std::string detail;
    auto transport = bootwire::OpenSerial(port, 1, &error, &detail);
    if (!transport) {
        std::fprintf(stderr, "cannot open %s: %s\n", port.c_str(), detail.c_str());
        return run;
    }
    bootwire::Link link(std::move(transport));
    const auto init = sealbench::RunMemoryInit(link, sealbench::ProcessorType::VireoC_TO2, {});
    if (!init.Ok()) {
        std::fprintf(stderr, "memory init failed: %s\n", init.message.c_str());
        return run;
    }
    const auto processor = sealbench::ProcessorType::VireoC_TO2;
    auto stream =
        sealbench::MakeBuiltinStream(processor, sealbench::FlashType::Nor, sealbench::PresetOf(processor).norFlashStart,
                                     0, image, bootwire::kStreamDefaultBaud);
    if (!stream) {
        std::fprintf(stderr, "no built-in flash library in this build\n");
        return run;
    }
    // When each stage began and when the last block was taken, for the details.
    using Stage = bootwire::StreamStage;
    double connecting = 0, programming = 0, allSent = 0, verifying = 0, finished = 0;
    auto observer = [&](const bootwire::StreamProgress& p) {
        const double t = Since(start);
        if (p.stage == Stage::Connecting && connecting == 0) connecting = t;
        if ((p.stage == Stage::Erasing || p.stage == Stage::Programming) && programming == 0) programming = t;
        if (p.imageBytesSent == image.size() && allSent == 0) allSent = t;
        if (p.stage == Stage::Verifying && verifying == 0) verifying = t;
        if (p.stage == Stage::Finished && finished == 0) finished = t;
    };
    const bootwire::Error e = link.StreamFlash(stream->job, observer, &run.report);
    run.success = e == bootwire::Error::Ok;
    run.text =
        sealbench::StreamOutcome(link, e, run.report, bootwire::kStreamDefaultBaud, "--baud", image.size()).message;
    std::fprintf(stderr,
                 "  at %.2f s connecting, %.2f s blocks, %.2f s last block taken, %.2f s verifying, %.2f s done\n",
                 connecting, programming, allSent, verifying, finished);
    run.cpuSeconds = CpuSeconds() - cpu;
    if (run.success) run.seconds = Since(start);
    for (const auto& line : run.report.diagnostics) std::fprintf(stderr, "  %s\n", line.c_str());
    return run;
}

void Compare(const std::string& what, const std::vector<uint8_t>& image, const std::string& dir, bool withNormal,
             bool paced, const char* speedGoal, double speedTarget, const char* timeGoal, double timeTarget) {
    sealtest::SimProcess sim("VireoC_TO2", paced ? std::vector<std::string>{"--pace"} : std::vector<std::string>{});
    if (!sim.ok()) {
        std::fprintf(stderr, "vireo-sim did not start: %s\n", sim.error().c_str());
        return;
    }
    double normal = -1;
    if (withNormal) {
        const std::string path = dir + "/image.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        normal = NormalRun(sim.serial(), path);
        std::fprintf(stderr, "%s: normal run %.1f s\n", what.c_str(), normal);
        bench::Result(what + " into NOR, paced: normal run", normal, "s", "report", normal > 0);
    }
    const FastRun fast = FastFlash(sim.serial(), image);
    const auto& s = fast.report;
    std::fprintf(stderr,
                 "%s: fast run %.2f s (%s): library %.2f s, stream %.2f s; %u blocks, %llu bytes compressed, "
                 "%u sent again; %.2f s CPU\n",
                 what.c_str(), fast.seconds, Line(fast.text).c_str(), s.loadSeconds, s.streamSeconds, s.blocks,
                 static_cast<unsigned long long>(s.compressedBytes), s.retransmissions, fast.cpuSeconds);
    const std::string board = paced ? "paced" : "unpaced";
    bench::Result(what + " into NOR, " + board + ": fast run (921600 baud)", fast.seconds, "s",
                  paced ? timeGoal : "report", fast.seconds > 0 && (!paced || fast.seconds <= timeTarget));
    if (withNormal) {
        const double speedUp = normal > 0 && fast.seconds > 0 ? normal / fast.seconds : 0;
        bench::Result(what + ": fast run against the normal run", speedUp, "x", speedGoal, speedUp >= speedTarget);
    }
    bench::Result(what + ": bytes on the line for the image (compressed)", 100.0 * s.compressedBytes / image.size(),
                  "%", "report", fast.seconds > 0);
    bench::Result(what + ": host CPU during the fast run", fast.cpuSeconds, "s", "report", fast.seconds > 0);
}

}  // namespace

int main(int argc, char** argv) {
    bool withNormal = true, paced = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "fast") withNormal = false;
        if (arg == "unpaced") paced = withNormal = false;
    }
    char pattern[] = "/tmp/sealbench-fast-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    const std::vector<uint8_t> code = sealtest::ArmCodeImage(kImageSize);
    if (code.empty()) {
        std::fprintf(stderr, "no ARM code for the image (the toolchain's libc.a)\n");
        return 1;
    }
    Compare("1 MiB ARM code", code, dir, withNormal, paced, ">= 10x", 10, "<= 10 s", 10);
    Compare("1 MiB random", sealtest::NoiseImage(kImageSize, 77), dir, withNormal, paced, ">= 7x", 7, "report", 1e9);
    std::filesystem::remove_all(dir);
    return 0;
}
