// Boards arriving in and leaving slots, as a test bench makes them: a slot path
// linked to the real vireo-sim's pty and unlinked again, a console on a pty (a
// board running its firmware), and a virtual board's USB socket in a
// BOOTWIRE_USB_SIM folder that appears with the board and goes with it (or with
// its cable, which SIGUSR2 unplugs and plugs in).
#include "station/presence.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <future>
#include <vector>

#include "sim_process.h"

namespace sealbench {
namespace {

using sealtest::SimProcess;
namespace fs = std::filesystem;

constexpr auto kEventLimit = std::chrono::seconds(20);

// Waits run on threads of their own; a test that ends early stops them, and the
// fixture keeps the watchers until they are joined.
class Slots : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-slots-XXXXXX";
        dir_ = ::mkdtemp(pattern);
    }
    void TearDown() override {
        stop_.request_stop();
        waits_.clear();
        ::unsetenv("BOOTWIRE_USB_SIM");
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    PresenceWatcher& Watch(const std::string& text) {
        Result<SlotPlace> place = ParseSlotPlace(text);
        EXPECT_TRUE(place.Ok()) << place.outcome.message;
        if (!usb_) usb_ = std::make_unique<UsbBoards>();  // after the test chose its BOOTWIRE_USB_SIM
        watchers_.push_back(MakePresenceWatcher(place.value, PresenceOptions{}, *usb_));
        return *watchers_.back();
    }

    std::future<bool>& Arrival(PresenceWatcher& watcher) {
        return waits_.emplace_back(std::async(std::launch::async, [&watcher, token = stop_.get_token()] {
            BoardSeen seen;
            return watcher.WaitForArrival(token, &seen);
        }));
    }
    std::future<bool>& Departure(PresenceWatcher& watcher) {
        return waits_.emplace_back(std::async(
            std::launch::async, [&watcher, token = stop_.get_token()] { return watcher.WaitForDeparture(token); }));
    }
    static bool Ended(std::future<bool>& wait) {
        return wait.wait_for(kEventLimit) == std::future_status::ready && wait.get();
    }

    std::string dir_;
    std::stop_source stop_;
    std::unique_ptr<UsbBoards> usb_;
    std::vector<std::unique_ptr<PresenceWatcher>> watchers_;
    std::deque<std::future<bool>> waits_;
};

TEST_F(Slots, APtyLinkedToTheSlotArrivesAndLeaves) {
    SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string slot = dir_ + "/slot1";
    PresenceWatcher& watcher = Watch(slot);

    std::future<bool>& arrived = Arrival(watcher);
    ASSERT_EQ(::symlink(sim.serial().c_str(), slot.c_str()), 0);
    EXPECT_TRUE(Ended(arrived)) << watcher.LastLook();

    std::future<bool>& left = Departure(watcher);
    ASSERT_EQ(::unlink(slot.c_str()), 0);
    EXPECT_TRUE(Ended(left)) << watcher.LastLook();
    EXPECT_EQ(watcher.LastLook(), slot + " is gone");
}

TEST_F(Slots, ABoardThatStopsAnsweringHasLeftAndAConsoleIsNoBoard) {
    SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    PresenceWatcher& watcher = Watch(sim.serial());
    std::future<bool>& arrived = Arrival(watcher);
    ASSERT_TRUE(Ended(arrived)) << watcher.LastLook();

    // The pty stays, the board behind it goes quiet: its process ends.
    std::future<bool>& left = Departure(watcher);
    sim.Signal(SIGSTOP);
    EXPECT_TRUE(Ended(left)) << watcher.LastLook();
    sim.Signal(SIGCONT);

    // A board in a jig powers on into its firmware: a console talks back, the boot ROM does not.
    SimProcess console("VireoC_TO2", {"--jig"});
    ASSERT_TRUE(console.ok()) << console.error();
    ProbeResult probe = ProbeSerial(console.serial(), ProbeOptions{}, {});
    EXPECT_EQ(probe.verdict, ProbeVerdict::Console) << probe.detail;
    EXPECT_EQ(ProbeSerial(dir_ + "/nothing", ProbeOptions{}, {}).verdict, ProbeVerdict::Missing);
}

TEST_F(Slots, AVirtualUsbBoardIsThereWhileItsSocketIs) {
    ::setenv("BOOTWIRE_USB_SIM", dir_.c_str(), 1);
    PresenceWatcher& watcher = Watch("sim:bench4");
    std::future<bool>& arrived = Arrival(watcher);
    auto sim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--cpu", "VireoC_TO2", "--usb-socket", dir_ + "/bench4.sock"});
    ASSERT_TRUE(sim->Ready(true)) << sim->Stderr();
    EXPECT_TRUE(Ended(arrived)) << watcher.LastLook();

    // Another board's socket in the folder is not this slot's.
    SimProcess other({"--cpu", "VireoC_TO2", "--usb-socket", dir_ + "/bench5.sock"});
    ASSERT_TRUE(other.Ready(true)) << other.Stderr();
    // The cable out and in again: the board leaves and comes back.
    std::future<bool>& unplugged = Departure(watcher);
    sim->Signal(SIGUSR2);
    EXPECT_TRUE(Ended(unplugged)) << watcher.LastLook();
    std::future<bool>& pluggedIn = Arrival(watcher);
    sim->Signal(SIGUSR2);
    EXPECT_TRUE(Ended(pluggedIn)) << watcher.LastLook();

    std::future<bool>& left = Departure(watcher);
    EXPECT_EQ(sim->Stop(), 0);  // the board ends and takes its socket with it
    EXPECT_TRUE(Ended(left)) << watcher.LastLook();
    EXPECT_EQ(watcher.LastLook(), "no USB boot device at sim:bench4");
}

}  // namespace
}  // namespace sealbench
