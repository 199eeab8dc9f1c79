// What the soak needs around its runs: counting a process's descriptors and
// threads, running sealbench-cli with a bounded wait (and, at a chosen moment,
// killing the board under it), and the images the runs send.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace soak {

using Clock = std::chrono::steady_clock;

// Open descriptors and threads of a process ("self" or a pid); -1 when it is gone.
struct Footprint {
    int fds = -1;
    int threads = -1;
    bool operator<=(const Footprint& other) const { return fds <= other.fds && threads <= other.threads; }
};
Footprint FootprintOf(const std::string& pid);

// Waits (bounded) until the footprint is within `baseline`; the last one seen.
Footprint SettleWithin(const std::string& pid, const Footprint& baseline, std::chrono::milliseconds limit);

struct Finished {
    int status = -1;        // exit status; -1 when killed at the limit or ended by a signal
    bool timedOut = false;  // still running at the limit
    double seconds = 0;
    std::string out;
    std::string err;
    Clock::time_point end;
};

// A sealbench-cli process, its output going to files in `dir`.
class CliProcess {
public:
    CliProcess(const std::string& cli, const std::vector<std::string>& args, const std::string& dir, int id);
    bool Started() const { return pid_ > 0; }
    // Done already? Reaps it when so.
    bool Poll();
    // Waits until it ends or `limit` since its start passed (then kills it); calls
    // `during` now and then while it runs.
    Finished Wait(std::chrono::seconds limit, const std::function<void(double seconds)>& during = {});

private:
    void Collect(int status);

    pid_t pid_ = -1;
    Clock::time_point start_;
    std::string outPath_;
    std::string errPath_;
    Finished finished_;
    bool done_ = false;
};

// Bytes that a board can run and return from: a program at RAM base + 0x4000 that
// hands the board back to its boot ROM, then random bytes.
std::vector<uint8_t> ReturningImage(uint32_t ramBase, size_t size, std::mt19937_64& random);
std::vector<uint8_t> RandomImage(size_t size, std::mt19937_64& random);
void WriteImage(const std::string& path, const std::vector<uint8_t>& bytes);

// The last `lines` lines of a text, for failure reports.
std::string Tail(const std::string& text, int lines = 6);

}  // namespace soak
