// The factory line rehearsed: sealbench-cli station against virtual boards that an
// operator puts into the slots on a schedule and takes out as soon as each board's
// verdict is printed, a few of them with a fault. Boards are real vireo-sim
// processes (their flash library run by the native model, so that the station, not
// the boards, is what is measured) whose ptys are linked to the slots' paths.
//
// Units per hour are counted over the time boards sit in their slots (the operator's
// hands are not the station's), against the ideal of N slots x 3600 / one board's
// time, that board alone in a station of one slot.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_files.h"
#include "bench_result.h"
#include "program_process.h"
#include "sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;
using namespace std::chrono_literals;

constexpr const char* kProgramError = "0x00B20000";

struct Schedule {
    int slots = 1;
    int boardsPerSlot = 1;
    bool paced = true;
    std::chrono::milliseconds firstApart{2000};  // between the slots' first boards
    std::chrono::milliseconds handling{2000};    // a slot stands empty this long between boards
    double faultShare = 0;                       // of the boards, given a programming error
    size_t imageSize = 0;
};

struct Board {
    int number = 0;
    int slot = 0;
    bool faulty = false;
    std::unique_ptr<sealtest::SimProcess> sim;
    Clock::time_point arrived;
    Wall::time_point arrivedWall;
    double seconds = 0;  // arrival to verdict, as the operator saw it
    bool ok = false;
};

struct Rehearsal {
    bool complete = false;  // every board got its verdict and the station ended well
    int mismatches = 0;     // verdicts other than the faults planned
    std::vector<Board> boards;
    double worstStart = 0;  // seconds from a board's arrival to the station starting it
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double peakMiB = 0;
};

// "2026-03-04T05:06:07.089Z"
std::optional<Wall::time_point> ParseIso(const std::string& text) {
    std::tm tm{};
    int millis = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, &millis) != 7)
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return Wall::from_time_t(timegm(&tm)) + std::chrono::milliseconds(millis);
}

// The text of a record line's string field.
std::string Field(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const size_t at = line.find(key);
    if (at == std::string::npos) return {};
    const size_t end = line.find('"', at + key.size());
    return line.substr(at + key.size(), end - at - key.size());
}

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Uid(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", number);
    return text;
}

Rehearsal Run(const std::string& dir, const Schedule& plan, uint32_t seed) {
    Rehearsal result;
    std::filesystem::create_directories(dir);
    const std::string image = bench::WriteImage(dir + "/image.bin", plan.imageSize, seed);
    std::vector<std::string> args{"station",    image,       "--cpu",    "VireoC_TO2",
                                  "--progress", "none",      "--record", dir + "/record.jsonl",
                                  "--identity", "B800C000:4"};
    std::vector<std::string> paths;
    for (int s = 0; s < plan.slots; ++s) {
        paths.push_back(dir + "/slot" + std::to_string(s + 1));
        args.insert(args.end(), {"--slot", paths.back()});
    }
    std::mt19937 random(seed);
    std::bernoulli_distribution faulty(plan.faultShare);

    const int total = plan.slots * plan.boardsPerSlot;
    sealtest::ProgramProcess station(bench::CliPath(), args);
    const Clock::time_point begin = Clock::now();
    std::vector<std::optional<size_t>> inSlot(plan.slots);  // index into result.boards
    std::vector<Clock::time_point> nextArrival(plan.slots);
    std::vector<int> given(plan.slots, 0);
    for (int s = 0; s < plan.slots; ++s) nextArrival[s] = begin + s * plan.firstApart;
    result.boards.reserve(total);
    size_t linesSeen = 0;
    int ended = 0;
    const Clock::time_point deadline = begin + 30min;
    while (ended < total && Clock::now() < deadline && station.Started()) {
        const Clock::time_point now = Clock::now();
        for (int s = 0; s < plan.slots; ++s) {
            if (inSlot[s] || given[s] >= plan.boardsPerSlot || now < nextArrival[s]) continue;
            Board board;
            board.number = static_cast<int>(result.boards.size()) + 1;
            board.slot = s;
            board.faulty = faulty(random);
            std::vector<std::string> extra{"--flashlib", "model", "--uid", Uid(board.number)};
            if (plan.paced) extra.push_back("--pace");
            // The second status query: the quick native model may need no more than two.
            if (board.faulty) extra.insert(extra.end(), {"--fault", std::string("status-word:2:") + kProgramError});
            board.sim = std::make_unique<sealtest::SimProcess>("VireoC_TO2", extra);
            if (!board.sim->ok()) {
                std::fprintf(stderr, "vireo-sim did not start: %s\n", board.sim->error().c_str());
                return result;
            }
            board.arrived = Clock::now();
            board.arrivedWall = Wall::now();
            std::filesystem::create_symlink(board.sim->serial(), paths[s]);
            inSlot[s] = result.boards.size();
            ++given[s];
            result.boards.push_back(std::move(board));
        }
        const std::vector<std::string> lines = station.StdoutLines();
        for (; linesSeen < lines.size(); ++linesSeen) {
            const std::string& line = lines[linesSeen];
            for (int s = 0; s < plan.slots; ++s) {
                if (!inSlot[s] || line.rfind(paths[s] + ": ", 0) != 0) continue;
                Board& board = result.boards[*inSlot[s]];
                board.seconds = std::chrono::duration<double>(Clock::now() - board.arrived).count();
                board.ok = line.compare(paths[s].size() + 2, 3, "OK ") == 0;
                if (board.ok != !board.faulty) ++result.mismatches;
                // The operator takes the board out at once, and the next one in after the handling.
                std::filesystem::remove(paths[s]);
                board.sim.reset();
                inSlot[s].reset();
                nextArrival[s] = Clock::now() + plan.handling;
                ++ended;
            }
        }
        std::this_thread::sleep_for(10ms);
    }
    station.Signal(SIGINT);
    const int status = station.Wait(std::chrono::seconds(60));
    result.wallSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    const rusage& usage = station.Usage();
    result.cpuSeconds =
        usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakMiB = usage.ru_maxrss / 1024.0;
    const bool anyFaulty =
        std::any_of(result.boards.begin(), result.boards.end(), [](const Board& b) { return b.faulty; });
    result.complete = ended == total && status == (anyFaulty ? 1 : 0);

    // When the station started each board, from its record.
    std::map<std::string, Wall::time_point> started;
    std::ifstream record(dir + "/record.jsonl");
    for (std::string line; std::getline(record, line);) {
        if (auto at = ParseIso(Field(line, "started"))) started[Field(line, "identity")] = *at;
    }
    for (const Board& board : result.boards) {
        auto at = started.find(Uid(board.number));
        if (at == started.end()) {
            result.complete = false;
            continue;
        }
        result.worstStart =
            std::max(result.worstStart, std::chrono::duration<double>(at->second - board.arrivedWall).count());
    }
    // The line's own rate, the operator's handling included: from the first arrival to the last verdict.
    Clock::time_point last = begin;
    for (const Board& board : result.boards)
        last = std::max(last, board.arrived + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(board.seconds)));
    const double span = std::chrono::duration<double>(last - begin).count();
    std::fprintf(stderr,
                 "%d slots x %d boards (%s): station exit %d, %d verdicts, %d unexpected, %.1f s, %.2f s CPU; "
                 "%.0f units per hour with the handling\n",
                 plan.slots, plan.boardsPerSlot, plan.paced ? "paced" : "unpaced", status, ended, result.mismatches,
                 result.wallSeconds, result.cpuSeconds, span > 0 ? ended * 3600.0 / span : 0);
    return result;
}

// Each slot's boards and the time they sat in it.
struct SlotTimes {
    int boards = 0;
    double busy = 0;
};

std::vector<SlotTimes> TimesBySlot(const Rehearsal& r, int slots) {
    std::vector<SlotTimes> times(slots);
    for (const Board& b : r.boards) {
        times[b.slot].busy += b.seconds;
        ++times[b.slot].boards;
    }
    return times;
}

// Units per hour over the time boards sat in their slots: each slot's boards over its busy time.
double UnitsPerHour(const Rehearsal& r, int slots) {
    double units = 0;
    for (const SlotTimes& t : TimesBySlot(r, slots)) units += t.busy > 0 ? t.boards * 3600.0 / t.busy : 0;
    return units;
}

// The slowest slot's mean board time over the fastest's.
double Spread(const Rehearsal& r, int slots) {
    double fastest = 1e300, slowest = 0;
    for (const SlotTimes& t : TimesBySlot(r, slots)) {
        if (t.boards == 0) return 0;
        fastest = std::min(fastest, t.busy / t.boards);
        slowest = std::max(slowest, t.busy / t.boards);
    }
    return fastest > 0 ? slowest / fastest : 0;
}

void PacedEight(const std::string& dir) {
    const size_t image = 96 * 1024;
    Rehearsal lone = Run(dir + "/lone", {1, 1, true, 0ms, 2000ms, 0, image}, 11);
    if (!lone.complete || lone.boards.empty()) {
        bench::Result("line, 8 paced slots: one board alone", -1, "s", "report", false);
        return;
    }
    const double one = lone.boards.front().seconds;
    const int slots = 8;
    Rehearsal line = Run(dir + "/paced", {slots, 3, true, 2000ms, 2000ms, 1.0 / 8, image}, 12);
    const bool ok = line.complete && line.mismatches == 0;
    const double ideal = slots * 3600.0 / one;
    const double units = UnitsPerHour(line, slots);
    std::fprintf(stderr, "paced: one board alone %.2f s; ideal %.0f units per hour, %.0f measured\n", one, ideal,
                 units);
    bench::Result("line, 8 paced slots (96 KiB, boards every 2 s): slowest start after arrival", line.worstStart, "s",
                  "<= 1 s", ok && line.worstStart <= 1.0);
    bench::Result("line, 8 paced slots: units per hour / ideal (8 x 3600 / " + Fixed(one) + " s)",
                  ideal > 0 ? units / ideal : 0, "x", ">= 0.95", ok && units >= 0.95 * ideal);
    const double share = line.wallSeconds > 0 ? 100.0 * line.cpuSeconds / line.wallSeconds : 0;
    bench::Result("line, 8 paced slots: host CPU of the station", share, "% core", "< 5 %", ok && share < 5);
    bench::Result("line, 8 paced slots: station peak RSS", line.peakMiB, "MiB", "< 64 MiB", ok && line.peakMiB < 64);
    const auto faulted = std::count_if(line.boards.begin(), line.boards.end(), [](const Board& b) { return b.faulty; });
    bench::Result("line, 8 paced slots: verdicts other than the faults planned (" + std::to_string(faulted) + " of " +
                      std::to_string(line.boards.size()) + " faulted)",
                  line.mismatches, "boards", "0", line.complete && line.mismatches == 0);
}

void UnpacedSixteen(const std::string& dir) {
    const int slots = 16;
    Rehearsal line = Run(dir + "/unpaced", {slots, 4, false, 100ms, 500ms, 1.0 / 8, 256 * 1024}, 21);
    const bool ok = line.complete && line.mismatches == 0;
    bench::Result("line, 16 unpaced slots (256 KiB): units per hour", UnitsPerHour(line, slots), "units/h", "(figure)",
                  ok);
    bench::Result("line, 16 unpaced slots: slowest slot's mean board time / fastest's", Spread(line, slots), "x",
                  "(figure)", ok);
}

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/sealbench-line-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "paced") PacedEight(dir);
    if (only.empty() || only == "unpaced") UnpacedSixteen(dir);
    std::filesystem::remove_all(dir);
    return 0;
}
