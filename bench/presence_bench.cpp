// What watching a station's slots costs and how soon it sees a board: 8 slots
// (4 serial slot paths, 4 virtual USB boards in a BOOTWIRE_USB_SIM folder) waiting
// for boards, then the same 8 with a board in each, waiting for them to leave; the
// station's CPU is what the watchers use. Then how long after a board appears its
// slot knows (a pty linked to the slot path, a socket moved into the folder).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "bench_result.h"
#include "sim_process.h"
#include "station/presence.h"

namespace {

using Clock = std::chrono::steady_clock;
using sealbench::PresenceWatcher;
using sealtest::SimProcess;
namespace fs = std::filesystem;

constexpr int kSlots = 8;
constexpr auto kMeasure = std::chrono::seconds(10);

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::unique_ptr<PresenceWatcher> Watcher(const std::string& text, sealbench::UsbBoards& usb) {
    return sealbench::MakePresenceWatcher(sealbench::ParseSlotPlace(text).value, {}, usb);
}

// Percent of one core the watchers use while they wait for `kMeasure` (arrival or departure).
double WatchCost(std::vector<std::unique_ptr<PresenceWatcher>>& watchers, bool arrival) {
    std::stop_source stop;
    std::vector<std::jthread> threads;
    std::atomic<int> ended = 0;
    const double before = CpuSeconds();
    const auto start = Clock::now();
    for (auto& w : watchers) {
        threads.emplace_back([&w, &ended, arrival, token = stop.get_token()] {
            sealbench::BoardSeen seen;
            if (arrival ? w->WaitForArrival(token, &seen) : w->WaitForDeparture(token)) ++ended;
        });
    }
    std::this_thread::sleep_for(kMeasure);
    const double cpu = CpuSeconds() - before;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    stop.request_stop();
    threads.clear();
    // A wait that ended saw a change that did not happen, and the figure would flatter.
    if (ended > 0) std::fprintf(stderr, "%d of the waits ended on their own: the figure is void\n", ended.load());
    return ended > 0 ? 100.0 : 100.0 * cpu / wall;
}

// Seconds from `appear` to the watcher's arrival.
template <typename Appear>
double SeenAfter(PresenceWatcher& watcher, Appear appear) {
    std::stop_source stop;
    Clock::time_point seenAt{};
    std::jthread wait([&] {
        sealbench::BoardSeen seen;
        if (watcher.WaitForArrival(stop.get_token(), &seen)) seenAt = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the watcher is idle when the board comes
    const auto appeared = Clock::now();
    appear();
    for (int i = 0; i < 100 && seenAt == Clock::time_point{}; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.request_stop();
    wait.join();
    return seenAt == Clock::time_point{} ? 99.0 : std::chrono::duration<double>(seenAt - appeared).count();
}

}  // namespace

int main() {
    char pattern[] = "/tmp/sealbench-presence-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string usbDir = dir + "/usb";
    const std::string staging = dir + "/staging";
    fs::create_directories(usbDir);
    fs::create_directories(staging);
    ::setenv("BOOTWIRE_USB_SIM", usbDir.c_str(), 1);
    sealbench::UsbBoards usb;

    std::vector<std::unique_ptr<PresenceWatcher>> watchers;
    for (int i = 0; i < kSlots / 2; ++i) watchers.push_back(Watcher(dir + "/slot" + std::to_string(i), usb));
    for (int i = 0; i < kSlots / 2; ++i) watchers.push_back(Watcher("sim:board" + std::to_string(i), usb));
    const double idle = WatchCost(watchers, true);
    std::fprintf(stderr, "8 empty slots: %.2f %% of a core\n", idle);
    bench::Result("station: CPU watching 8 empty slots", idle, "% of a core", "< 5", idle < 5);

    std::vector<std::unique_ptr<SimProcess>> boards;
    for (int i = 0; i < kSlots / 2; ++i) {
        boards.push_back(std::make_unique<SimProcess>("VireoC_TO2"));
        fs::create_symlink(boards.back()->serial(), dir + "/slot" + std::to_string(i));
    }
    for (int i = 0; i < kSlots / 2; ++i) {
        boards.push_back(std::make_unique<SimProcess>(std::vector<std::string>{
            "--cpu", "VireoC_TO2", "--usb-socket", usbDir + "/board" + std::to_string(i) + ".sock"}));
        boards.back()->Ready(true);
    }
    const double present = WatchCost(watchers, false);
    std::fprintf(stderr, "8 slots with a board each: %.2f %% of a core\n", present);
    bench::Result("station: CPU watching 8 slots with boards in them", present, "% of a core", "< 5", present < 5);

    // A board arriving: the worst of a few, for each kind of slot.
    double serialWorst = 0, usbWorst = 0;
    for (int round = 0; round < 5; ++round) {
        const std::string slot = dir + "/late" + std::to_string(round);
        auto watcher = Watcher(slot, usb);
        serialWorst =
            std::max(serialWorst, SeenAfter(*watcher, [&] { fs::create_symlink(boards[0]->serial(), slot); }));
        const std::string name = "late" + std::to_string(round);
        SimProcess board({"--cpu", "VireoC_TO2", "--usb-socket", staging + "/" + name + ".sock"});
        board.Ready(true);
        auto usbWatcher = Watcher("sim:" + name, usb);
        usbWorst = std::max(usbWorst, SeenAfter(*usbWatcher, [&] {
                                fs::rename(staging + "/" + name + ".sock", usbDir + "/" + name + ".sock");
                            }));
    }
    std::fprintf(stderr, "arrival seen after at most %.3f s (serial), %.3f s (virtual USB)\n", serialWorst, usbWorst);
    bench::Result("station: a board on a serial slot seen after", serialWorst, "s", "< 1", serialWorst < 1);
    bench::Result("station: a virtual USB board seen after", usbWorst, "s", "< 1", usbWorst < 1);

    boards.clear();
    std::error_code error;
    fs::remove_all(dir, error);
    return 0;
}
