// The soak: back-to-back DOWNLOAD and FLASHING runs against vireo-sim, over its
// pty and its USB socket, through sealbench-cli and through the run core the
// window uses, with random faults of the board, random kills of it, two
// programs contending for one port, a status answer held up on the network (a
// proxy in front of the board's RFC 2217 port) and reads of a port that only
// prints a Linux console. Every run must end as its faults say and
// within the time limit; a run that says "Flashing Completed" must have put the
// image in flash; and from run to run neither the host process nor the board may
// gather descriptors or threads.
//
// Usage: soak_runs [RUNS] [--seed N] [--keep-going] [--verbose]
//   RUNS defaults to 1000; the seed (printed first) replays a soak run for run;
//   --verbose prints a line per run.
//   Exit status 0 when every run behaved, 1 otherwise.
#include <bootwire/bootwire.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_result.h"
#include "download/run/runner.h"
#include "hostile_peers.h"
#include "sim_process.h"
#include "soak_host.h"

namespace {

using namespace std::chrono_literals;
using soak::Clock;
using soak::Footprint;

// A target that stops answering ends a command within 60 s (the command line's promise).
constexpr auto kRunLimit = 60s;
constexpr auto kSettleLimit = 5000ms;

enum class Fault {
    None,
    Kill,
    RegWord,
    SilentAfter,
    StatusSilent,
    StatusWord,
    FlashFault,
    Contention,
    StatusStall,
    ConsolePort
};

const std::string kNotBootRom = "the board's answer is not a boot-ROM answer (is it in boot-ROM download mode?)";
enum class Expect { Success, Failure, Either };

const char* NameOf(Fault f) {
    switch (f) {
        case Fault::None:
            return "none";
        case Fault::Kill:
            return "kill";
        case Fault::RegWord:
            return "reg-word";
        case Fault::SilentAfter:
            return "silent-after";
        case Fault::StatusSilent:
            return "status-silent";
        case Fault::StatusWord:
            return "status-word";
        case Fault::FlashFault:
            return "flash-fault";
        case Fault::Contention:
            return "two-programs";
        case Fault::StatusStall:
            return "status-stall";
        case Fault::ConsolePort:
            return "console-port";
    }
    return "?";
}

// The core's status log, kept for reports.
class LogView : public sealbench::RunView {
public:
    void AppendLog(std::string_view line, int) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    }
    void SetProgressRange(int64_t, int64_t) override {}
    void SetProgressPosition(int64_t) override {}
    void SetProgressCaption(std::string_view) override {}
    std::string Take() {
        std::lock_guard lock(mutex_);
        std::string text;
        for (const std::string& line : lines_) text += line + (line.empty() || line.back() != '\n' ? "\n" : "");
        lines_.clear();
        return text;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

struct Cpu {
    const char* name;
    sealbench::ProcessorType type;
};
constexpr Cpu kCpus[] = {{"VireoB", sealbench::ProcessorType::VireoB},
                         {"VireoC_TO1", sealbench::ProcessorType::VireoC_TO1},
                         {"VireoC_TO2", sealbench::ProcessorType::VireoC_TO2}};

struct RunPlan {
    bool flash = false;
    bool usb = false;
    bool core = false;  // through the run core in this process, else sealbench-cli
    bool ddr = false;
    std::vector<uint8_t> image;
    std::string imagePath;
    Expect expect = Expect::Success;
    std::optional<double> killAt;  // seconds into the run
    std::string port;              // the CLI's --port when not the board's pty
};

struct RunResult {
    bool success = false;
    bool timedOut = false;
    double seconds = 0;
    std::string log;
};

class Soak {
public:
    Soak(int runs, uint64_t seed, bool keepGoing, bool verbose, std::string dir)
        : runs_(runs), seed_(seed), keepGoing_(keepGoing), verbose_(verbose), dir_(std::move(dir)), random_(seed) {
        cli_ = (std::filesystem::path(sealtest::SimExecutable()).parent_path() / "sealbench-cli").string();
    }

    int Run() {
        auto start = Clock::now();
        while (done_ < runs_ && (keepGoing_ || failures_ == 0)) Epoch();
        double minutes = std::chrono::duration<double>(Clock::now() - start).count() / 60;
        std::fprintf(stderr,
                     "\nsoak: %d runs in %.1f min, seed %llu; %d failed, %d flash images checked; longest run %.1f s\n",
                     done_, minutes, static_cast<unsigned long long>(seed_), failures_, flashChecks_, longest_);
        for (const auto& [fault, count] : byFault_) std::fprintf(stderr, "  %-14s %d runs\n", fault.c_str(), count);
        std::fprintf(stderr, "  host: %d fds, %d threads at the end (baseline %d, %d); growth seen %d times\n",
                     hostLast_.fds, hostLast_.threads, hostBaseline_.fds, hostBaseline_.threads, hostGrowth_);
        std::fprintf(stderr, "  vireo-sim: growth seen %d times\n", simGrowth_);
        const std::string runs = std::to_string(done_) + " soak runs";
        bench::Result(runs + ": runs that ended as their faults say", 100.0 * (done_ - failures_) / std::max(done_, 1),
                      "%", "100 %", failures_ == 0);
        bench::Result(runs + ": longest run", longest_, "s", "< 60 s", longest_ < 60);
        bench::Result(runs + ": fd/thread growth (host, vireo-sim)", hostGrowth_ + simGrowth_, "times", "0",
                      hostGrowth_ + simGrowth_ == 0);
        std::printf("soak: %d passed, %d failed\n", done_ - failures_, failures_);
        return failures_ == 0 ? 0 : 1;
    }

private:
    template <typename T>
    T Pick(T low, T high) {
        return std::uniform_int_distribution<T>(low, high)(random_);
    }
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }

    Fault PickFault() {
        const std::pair<Fault, int> weights[] = {
            {Fault::None, 42},        {Fault::Kill, 11},      {Fault::RegWord, 7},    {Fault::SilentAfter, 7},
            {Fault::StatusSilent, 6}, {Fault::StatusWord, 7}, {Fault::FlashFault, 8}, {Fault::Contention, 6},
            {Fault::StatusStall, 4},  {Fault::ConsolePort, 2}};
        int total = 0;
        for (auto& w : weights) total += w.second;
        int at = Pick(0, total - 1);
        for (auto& w : weights) {
            if ((at -= w.second) < 0) return w.first;
        }
        return Fault::None;
    }

    void Fail(const std::string& what, const RunPlan& plan, const RunResult& result) {
        ++failures_;
        std::fprintf(stderr,
                     "\nFAILED run %d (%s, %s over %s via %s, image %zu bytes, fault %s%s): %s after %.1f s\n%s", done_,
                     cpu_.name, plan.flash ? "flash" : "download", plan.usb ? "USB" : "pty", plan.core ? "core" : "cli",
                     plan.image.size(), NameOf(fault_), faultArgs_.c_str(), what.c_str(), result.seconds,
                     soak::Tail(result.log, 8).c_str());
        if (sim_) std::fprintf(stderr, "board said:\n%s\n", soak::Tail(sim_->Stderr(), 8).c_str());
    }

    // One board with one fault, for a few runs.
    void Epoch() {
        cpu_ = kCpus[Pick<size_t>(0, std::size(kCpus) - 1)];
        fault_ = PickFault();
        if (fault_ == Fault::ConsolePort) {
            faultArgs_.clear();
            ConsoleRun();
            return;
        }
        const sealbench::ProcessorPreset& preset = sealbench::PresetOf(cpu_.type);
        const bool vireoB = cpu_.type == sealbench::ProcessorType::VireoB;
        std::vector<std::string> args = {"--dump-flash", dir_ + "/flash.bin"};
        faultArgs_.clear();
        auto addFault = [&](const std::string& spec) {
            args.push_back("--fault");
            args.push_back(spec);
            faultArgs_ = " " + spec;
        };
        RunPlan first = NewPlan(Chance(0.5));
        int stallQuery = 0;
        switch (fault_) {
            case Fault::RegWord:  // a register write of the DDR preset is refused
                first.ddr = true;
                first.expect = Expect::Failure;
                addFault("reg-word:" + std::to_string(Pick(1, vireoB ? 16 : 19)));
                break;
            case Fault::SilentAfter:  // the board stops reading within the image
                first.expect = Expect::Failure;
                addFault("silent-after:" + std::to_string(Pick<size_t>(0, first.image.size() - 1)));
                break;
            case Fault::StatusSilent:  // one status query unanswered: the run goes on
                first = NewPlan(true);
                addFault("status-silent:" + std::to_string(Pick(1, 2)));
                break;
            case Fault::StatusWord: {  // the flash library's error words
                first = NewPlan(true);
                first.expect = Expect::Failure;
                const char* words[] = {"0x00B10000", "0x00B20000", "0x00B30000"};
                addFault(std::string("status-word:1:") + words[Pick(0, 2)]);
                break;
            }
            case Fault::FlashFault: {  // the flash itself fails inside the image
                first = NewPlan(true);
                first.expect = Expect::Failure;
                const char* kinds[] = {"erase-stuck", "program-stuck", "bit-flip"};
                const int kind = Pick(0, 2);
                char address[16];
                std::snprintf(address, sizeof address, "%X",
                              preset.norFlashStart + Pick<uint32_t>(0, static_cast<uint32_t>(first.image.size() - 1)));
                addFault(std::string(kinds[kind]) + ":" + address +
                         (kind == 2 ? ":" + std::to_string(Pick(0, 7)) : ""));
                break;
            }
            case Fault::StatusStall:  // two bytes of one status answer come 3.3 s late
                first = NewPlan(true);
                first.usb = first.core = false;
                stallQuery = Pick(1, 6);
                faultArgs_ = " at status query " + std::to_string(stallQuery);
                args.insert(args.end(), {"--rfc2217", "0"});
                break;
            default:
                break;
        }
        sim_ = std::make_unique<sealtest::SimProcess>(cpu_.name, args, true);
        if (!sim_->ok()) {
            std::fprintf(stderr, "vireo-sim did not start: %s\n", sim_->error().c_str());
            ++failures_;
            sim_.reset();
            return;
        }
        ::setenv("BOOTWIRE_USB_SIM", sim_->usbSocket().c_str(), 1);
        simBaseline_.reset();
        simGrewOnce_ = false;
        downloadsThisBoard_ = 0;

        if (fault_ == Fault::Contention) {
            Contend();
        } else if (fault_ == Fault::StatusStall) {
            const std::string line = sim_->Line();  // "rfc2217: rfc2217://127.0.0.1:PORT"
            const int boardPort = std::atoi(line.substr(line.rfind(':') + 1).c_str());
            sealtest::Proxy proxy(boardPort, {.stallAtQuery = stallQuery});
            first.port = "rfc2217://127.0.0.1:" + std::to_string(proxy.port());
            Finish(first, Execute(first));
        } else if (fault_ != Fault::None && fault_ != Fault::Kill) {
            Finish(first, Execute(first));
        } else {
            // A few downloads, each handing the board back to its boot ROM, then perhaps a flashing.
            const int downloads = Pick(0, 3);
            const bool flashing = downloads == 0 || Chance(0.6);
            const int killed = fault_ == Fault::Kill ? Pick(0, downloads - (flashing ? 0 : 1)) : -1;
            for (int i = 0; i <= downloads && done_ < runs_ && sim_; ++i) {
                if (i == downloads && !flashing) break;
                RunPlan plan = NewPlan(i == downloads);
                if (i == killed) {
                    plan.expect = Expect::Either;
                    plan.killAt = std::uniform_real_distribution<double>(0, plan.flash ? 2.5 : 1.0)(random_);
                }
                if (!Finish(plan, Execute(plan))) break;
            }
        }
        std::filesystem::remove(first.imagePath);
        sim_.reset();
    }

    RunPlan NewPlan(bool flash) {
        RunPlan plan;
        plan.flash = flash;
        plan.usb = Chance(0.5);
        plan.core = Chance(0.4);
        plan.ddr = Chance(0.3);
        const uint32_t ramBase = sealbench::PresetOf(cpu_.type).ramBase;
        plan.image = flash ? soak::RandomImage(Pick<size_t>(256, 0x10000), random_)
                           : soak::ReturningImage(ramBase, Pick<size_t>(64, 0x10000), random_);
        plan.imagePath = dir_ + "/image" + std::to_string(++images_) + ".bin";
        soak::WriteImage(plan.imagePath, plan.image);
        return plan;
    }

    RunResult Execute(const RunPlan& plan) { return plan.core ? ExecuteCore(plan) : ExecuteCli(plan); }

    RunResult ExecuteCli(const RunPlan& plan) {
        std::vector<std::string> args = {
            plan.flash ? "flash" : "download", plan.imagePath, "--cpu", cpu_.name, "--progress", "none", "--mem-init",
            plan.ddr ? "ddr" : "none"};
        if (plan.usb) {
            args.push_back("--usb");
        } else {
            args.insert(args.end(), {"--port", plan.port.empty() ? sim_->serial() : plan.port});
        }
        soak::CliProcess process(cli_, args, dir_, done_);
        bool killed = false;
        soak::Finished f = process.Wait(kRunLimit + 30s, [&](double seconds) {
            if (plan.killAt && !killed && seconds >= *plan.killAt) {
                sim_->Signal(SIGKILL);
                killed = true;
            }
        });
        return {f.status == 0, f.timedOut || f.seconds > kRunLimit.count(), f.seconds, f.out + f.err};
    }

    RunResult ExecuteCore(const RunPlan& plan) {
        RunResult result;
        sealbench::RunSettings s;
        s.processor = cpu_.type;
        s.operation = plan.flash ? sealbench::OperationType::Flashing : sealbench::OperationType::DownloadOnly;
        s.imagePath = plan.imagePath;
        s.memoryInit = {plan.ddr, false, ""};
        auto start = Clock::now();
        bootwire::Error error = bootwire::Error::Ok;
        std::string detail;
        link_.Attach(
            plan.usb ? bootwire::OpenUsb(&error, &detail)
                     : bootwire::OpenSerial(sim_->serial(), sealbench::PresetOf(cpu_.type).lineMode, &error, &detail));
        if (!link_.IsOpen()) {
            result.log = "cannot open the board: " + detail;
            return result;
        }
        bool killed = false;
        if (runner_.Execute(s, {&link_, plan.usb, {}})) {
            while (!runner_.WaitIdle(5ms)) {
                double seconds = std::chrono::duration<double>(Clock::now() - start).count();
                if (plan.killAt && !killed && seconds >= *plan.killAt) {
                    sim_->Signal(SIGKILL);
                    killed = true;
                }
                if (Clock::now() - start > kRunLimit) {
                    result.timedOut = true;
                    runner_.Stop();
                    runner_.WaitIdle(30s);
                    break;
                }
            }
            result.success = !result.timedOut && runner_.LastRunSucceeded();
        }
        link_.Detach();
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.log = view_.Take();
        CheckHost(plan, result);
        return result;
    }

    // The host process between runs: what a run opened, it closed.
    void CheckHost(const RunPlan& plan, const RunResult& result) {
        Footprint now = soak::FootprintOf("self");
        Footprint& baseline = hostBaselines_[plan.usb];
        if (baseline.fds < 0) {
            baseline = now;
        } else {
            Footprint allowed{std::max(hostBaselines_[0].fds, hostBaselines_[1].fds),
                              std::max(hostBaselines_[0].threads, hostBaselines_[1].threads)};
            now = soak::SettleWithin("self", allowed, kSettleLimit);
            if (!(now <= allowed)) {
                ++hostGrowth_;
                Fail("the host holds " + std::to_string(now.fds) + " fds and " + std::to_string(now.threads) +
                         " threads, more than the " + std::to_string(allowed.fds) + " and " +
                         std::to_string(allowed.threads) + " after earlier runs",
                     plan, result);
            }
        }
        hostLast_ = now;
        hostBaseline_ = hostBaselines_[0].fds >= 0 ? hostBaselines_[0] : hostBaselines_[1];
    }

    // The board between runs, once the host has let go of it.
    void CheckBoard(const RunPlan& plan, const RunResult& result) {
        const std::string pid = std::to_string(sim_->Pid());
        if (!simBaseline_) {
            std::this_thread::sleep_for(100ms);
            simBaseline_ = soak::FootprintOf(pid);
            return;
        }
        Footprint now = soak::SettleWithin(pid, *simBaseline_, kSettleLimit);
        if (!(now <= *simBaseline_)) {
            // A first USB connection may start what a pty run did not need; once.
            if (!simGrewOnce_) {
                simGrewOnce_ = true;
                simBaseline_ = now;
                return;
            }
            ++simGrowth_;
            Fail("vireo-sim holds " + std::to_string(now.fds) + " fds and " + std::to_string(now.threads) +
                     " threads, more than its " + std::to_string(simBaseline_->fds) + " and " +
                     std::to_string(simBaseline_->threads),
                 plan, result);
        }
    }

    // Counts a run and checks its time; false when it overran.
    bool Count(const RunPlan& plan, const RunResult& result) {
        ++done_;
        ++byFault_[NameOf(fault_)];
        longest_ = std::max(longest_, result.seconds);
        std::filesystem::remove(plan.imagePath);
        if (verbose_) {
            std::fprintf(stderr, "run %d: %s %s over %s via %s, %zu bytes, fault %s%s: %s in %.1f s\n", done_,
                         cpu_.name, plan.flash ? "flash" : "download", plan.usb ? "USB" : "pty",
                         plan.core ? "core" : "cli", plan.image.size(), NameOf(fault_), faultArgs_.c_str(),
                         result.success ? "ok" : "failed", result.seconds);
        } else if (done_ % 50 == 0) {
            std::fprintf(stderr, "soak: %d of %d runs, %d failed\n", done_, runs_, failures_);
        }
        if (result.timedOut) {
            Fail("did not end within 60 s", plan, result);
            return false;
        }
        return true;
    }

    // Judges one run; false when the board is done for this epoch.
    bool Finish(const RunPlan& plan, const RunResult& result) {
        if (!Count(plan, result)) {
            return false;
        }
        if (plan.expect == Expect::Success && !result.success) {
            Fail("failed where it should have succeeded", plan, result);
            return false;
        }
        if (plan.expect == Expect::Failure && result.success) {
            Fail("reported success despite the fault", plan, result);
            return false;
        }
        if (plan.killAt || !result.success) return false;
        if (plan.flash) {
            CheckFlash(plan.image, plan, result);
            return false;
        }
        // The downloaded program hands the board back to its boot ROM.
        if (!WaitForCount("program ended", static_cast<size_t>(++downloadsThisBoard_))) {
            Fail("the board did not return to its boot ROM after the download", plan, result);
            return false;
        }
        CheckBoard(plan, result);
        return true;
    }

    bool WaitForCount(const std::string& text, size_t count) {
        auto deadline = Clock::now() + 20s;
        while (Clock::now() < deadline) {
            std::string all = sim_->Stderr();
            size_t seen = 0;
            for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++seen;
            if (seen >= count) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    // "Flashing Completed" must mean the image is in flash: the board writes its
    // flash out when it ends, as an independent witness.
    void CheckFlash(const std::vector<uint8_t>& image, const RunPlan& plan, const RunResult& result) {
        if (sim_->Stop() != 0) {
            Fail("the board did not end cleanly to write its flash", plan, result);
            return;
        }
        std::vector<unsigned char> flash = sealtest::ReadFile(dir_ + "/flash.bin");
        ++flashChecks_;
        if (flash.size() < image.size() || !std::equal(image.begin(), image.end(), flash.begin())) {
            Fail("said it flashed, but the flash does not hold the image", plan, result);
        }
    }

    // A port that only prints a Linux console: read and dump must fail and say why,
    // and dump must leave no file.
    void ConsoleRun() {
        sealtest::ConsolePort console;
        const bool dump = Chance(0.5);
        faultArgs_ = dump ? " (dump)" : " (read)";
        const std::string out = dir_ + "/console.bin";
        std::vector<std::string> args = {"read", "80000000"};
        if (dump) args = {"dump", "80000000", std::to_string(Pick(1, 0x4000)), "-o", out};
        args.insert(args.end(), {"--cpu", cpu_.name, "--progress", "none", "--port",
                                 "socket://127.0.0.1:" + std::to_string(console.port())});
        soak::CliProcess process(cli_, args, dir_, done_);
        soak::Finished f = process.Wait(kRunLimit + 30s);
        RunPlan plan;
        plan.expect = Expect::Failure;
        RunResult result{f.status == 0, f.timedOut || f.seconds > kRunLimit.count(), f.seconds, f.out + f.err};
        if (!Count(plan, result)) return;
        if (result.success) {
            Fail("took a console's text for memory", plan, result);
        } else if (result.log.find(kNotBootRom) == std::string::npos) {
            Fail("did not say that the port is no boot ROM", plan, result);
        } else if (std::filesystem::exists(out)) {
            Fail("left a file of console text", plan, result);
        }
        std::filesystem::remove(out);
    }

    // Two programs flash different images through one port at the same moment: at
    // most one may have the port at a time, and the flash holds the image of the
    // one that finished last with success.
    void Contend() {
        RunPlan plans[2] = {NewPlan(true), NewPlan(true)};
        for (RunPlan& plan : plans) {
            plan.usb = plan.core = plan.ddr = false;
            plan.expect = Expect::Either;
        }
        std::unique_ptr<soak::CliProcess> processes[2];
        for (int i = 0; i < 2; ++i) {
            processes[i] = std::make_unique<soak::CliProcess>(
                cli_,
                std::vector<std::string>{"flash", plans[i].imagePath, "--cpu", cpu_.name, "--progress", "none",
                                         "--mem-init", "none", "--port", sim_->serial()},
                dir_, done_ * 2 + i);
        }
        // Both are watched together, so that the order in which they ended is known.
        const auto start = Clock::now();
        while (Clock::now() - start < kRunLimit + 30s) {
            const bool first = processes[0]->Poll();
            const bool second = processes[1]->Poll();
            if (first && second) break;
            std::this_thread::sleep_for(5ms);
        }
        soak::Finished f[2] = {processes[0]->Wait(kRunLimit + 30s), processes[1]->Wait(kRunLimit + 30s)};
        RunResult results[2];
        bool inTime = true;
        for (int i = 0; i < 2; ++i) {
            results[i] = {f[i].status == 0, f[i].timedOut || f[i].seconds > kRunLimit.count(), f[i].seconds,
                          f[i].out + f[i].err};
            inTime = Count(plans[i], results[i]) && inTime;
        }
        if (!inTime) return;
        const int winners = results[0].success + results[1].success;
        for (int i = 0; i < 2; ++i) {
            if (!results[i].success && results[i].log.find("port in use by another program") == std::string::npos) {
                Fail("lost the port for another reason than the other program", plans[i], results[i]);
                return;
            }
        }
        if (winners == 0) {
            Fail("neither program flashed", plans[0], results[0]);
            return;
        }
        int last = winners == 2 ? (f[0].end > f[1].end ? 0 : 1) : (results[0].success ? 0 : 1);
        CheckFlash(plans[last].image, plans[last], results[last]);
    }

    int runs_;
    uint64_t seed_;
    bool keepGoing_;
    bool verbose_;
    std::string dir_;
    std::string cli_;
    std::mt19937_64 random_;

    int done_ = 0;
    int images_ = 0;
    int failures_ = 0;
    int flashChecks_ = 0;
    double longest_ = 0;
    std::map<std::string, int> byFault_;

    Cpu cpu_ = kCpus[0];
    Fault fault_ = Fault::None;
    std::string faultArgs_;
    std::unique_ptr<sealtest::SimProcess> sim_;
    int downloadsThisBoard_ = 0;
    std::optional<Footprint> simBaseline_;
    bool simGrewOnce_ = false;
    int simGrowth_ = 0;

    // The host side as the window has it: one page's runner and session for every run.
    LogView view_;
    sealbench::Session session_;
    sealbench::Runner runner_{view_, session_};
    bootwire::Link link_;
    Footprint hostBaselines_[2];  // after the first run over the pty, over USB
    Footprint hostBaseline_;
    Footprint hostLast_;
    int hostGrowth_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    int runs = 1000;
    uint64_t seed = static_cast<uint64_t>(Clock::now().time_since_epoch().count());
    bool keepGoing = false;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--keep-going") {
            keepGoing = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos) {
            runs = std::stoi(arg);
        } else {
            std::fprintf(stderr, "usage: %s [RUNS] [--seed N] [--keep-going] [--verbose]\n", argv[0]);
            return 2;
        }
    }
    char pattern[] = "/tmp/sealbench-soak-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    std::fprintf(stderr, "soak: %d runs, seed %llu\n", runs, static_cast<unsigned long long>(seed));
    int status = Soak(runs, seed, keepGoing, verbose, pattern).Run();
    std::filesystem::remove_all(pattern);
    return status;
}
