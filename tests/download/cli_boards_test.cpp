// sealbench-cli download and flash on several boards at once, against real vireo-sim
// processes: prefixed log lines, the summary, boards that fail alone, retries,
// usage errors, Ctrl-C, and the ports command.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "cli_process.h"
#include "sim_process.h"

namespace {

using namespace std::chrono_literals;
using sealtest::RunCli;
using sealtest::SimProcess;
using Lines = std::vector<std::string>;

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

using sealtest::CliChild;

class CliBoards : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-cliboards-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        usbFolder_ = dir_ + "/usb";
        std::filesystem::create_directory(usbFolder_);
        setenv("BOOTWIRE_USB_SIM", usbFolder_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("BOOTWIRE_USB_SIM");
        sims_.clear();
        std::filesystem::remove_all(dir_);
    }

    std::string Image(size_t size, uint32_t seed) {
        std::string path = dir_ + "/image" + std::to_string(seed) + ".bin";
        std::ofstream out(path, std::ios::binary);
        uint32_t x = seed;
        for (size_t i = 0; i < size; ++i) {
            x = x * 1103515245u + 12345u;
            out.put(static_cast<char>(x >> 16));
        }
        return path;
    }

    // A VireoC_TO2 board; `usbName` serves it in the USB folder as sim:NAME too.
    SimProcess& Board(const std::string& name, std::vector<std::string> extra = {}, bool usb = false) {
        extra.insert(extra.end(), {"--dump-flash", dir_ + "/" + name + ".flash"});
        if (usb) extra.insert(extra.end(), {"--usb-socket", usbFolder_ + "/" + name + ".sock"});
        sims_.push_back(std::make_unique<SimProcess>("VireoC_TO2", extra));
        EXPECT_TRUE(sims_.back()->ok()) << sims_.back()->error();
        return *sims_.back();
    }

    void ExpectFlashHolds(SimProcess& sim, const std::string& name, const std::string& image) {
        EXPECT_EQ(sim.Stop(), 0);
        auto flash = sealtest::ReadFile(dir_ + "/" + name + ".flash");
        auto expected = sealtest::ReadFile(image);
        ASSERT_GE(flash.size(), expected.size()) << name;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin())) << name;
    }

    // The summary lines at the end of the output, one per board.
    static Lines Summary(const Lines& out, size_t boards) {
        return out.size() < boards ? out : Lines(out.end() - static_cast<long>(boards), out.end());
    }

    std::string dir_;
    std::string usbFolder_;
    std::vector<std::unique_ptr<SimProcess>> sims_;
};

TEST_F(CliBoards, FourSerialAndTwoUsbBoardsFlashedInOneRun) {
    std::vector<SimProcess*> serial;
    for (int i = 0; i < 4; ++i) serial.push_back(&Board("s" + std::to_string(i)));
    SimProcess& u0 = Board("u0", {}, true);
    SimProcess& u1 = Board("u1", {}, true);
    std::string image = Image(0x14000, 11);
    std::vector<std::string> args = {"flash", image, "--cpu", "VireoC_TO2", "--progress", "plain"};
    std::vector<std::string> names;
    for (int i = 0; i < 4; ++i) {
        // Serial and USB boards interleaved: the summary keeps this order.
        args.insert(args.end(), {"--port", serial[static_cast<size_t>(i)]->serial()});
        names.push_back(serial[static_cast<size_t>(i)]->serial());
        if (i < 2) {
            std::string location = i == 0 ? "sim:u0" : "sim:u1";
            args.insert(args.end(), {"--usb-device", location});
            names.push_back("usb:" + location);
        }
    }
    auto run = RunCli(args, 180s);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    Lines lines = run.OutLines();
    Lines summary = Summary(lines, 6);
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(summary[i], names[i] + ": OK");
        // The figures table on standard error: verdict, bytes, time, tries.
        EXPECT_NE(run.err.find(names[i]), std::string::npos);
        // Every board's own log, prefixed with its name.
        EXPECT_NE(std::find(lines.begin(), lines.end(), "[" + names[i] + "] Flashing Completed"), lines.end());
        EXPECT_NE(std::find(lines.begin(), lines.end(), "[" + names[i] + "] VireoC Sealbench ver 1.3s"), lines.end());
        EXPECT_NE(run.err.find("[" + names[i] + "] Flash Program:"), std::string::npos);
    }
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[usb:sim:u1] USB is using"), lines.end());
    for (size_t i = 0; i < lines.size() - 6; ++i) EXPECT_TRUE(StartsWith(lines[i], "[")) << lines[i];
    for (int i = 0; i < 4; ++i) ExpectFlashHolds(*serial[static_cast<size_t>(i)], "s" + std::to_string(i), image);
    ExpectFlashHolds(u0, "u0", image);
    ExpectFlashHolds(u1, "u1", image);
}

TEST_F(CliBoards, AFaultedBoardFailsAloneAndTheSummaryNamesIt) {
    SimProcess& good = Board("good");
    SimProcess& bad = Board("bad", {"--fault", "status-word:2:0x00B20000"});
    SimProcess& other = Board("other", {}, true);
    std::string image = Image(0x8000, 12);
    auto run = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--port", good.serial(), "--port", bad.serial(),
                       "--usb-device", "sim:other", "--progress", "none"},
                      120s);
    EXPECT_EQ(run.status, 1) << run.out;
    Lines summary = Summary(run.OutLines(), 3);
    EXPECT_EQ(summary[0], good.serial() + ": OK");
    EXPECT_EQ(summary[1], bad.serial() + ": FAILED - Flashing Program Error");
    EXPECT_EQ(summary[2], "usb:sim:other: OK");
    EXPECT_NE(run.out.find("[" + bad.serial() + "] Error!!- Reason: Flashing Program Error"), std::string::npos);
    ExpectFlashHolds(good, "good", image);
    ExpectFlashHolds(other, "other", image);
}

TEST_F(CliBoards, ABoardKilledMidRunFailsAloneWithinTheBound) {
    SimProcess& a = Board("a", {"--pace"});
    SimProcess& doomed = Board("doomed", {"--pace"});
    std::string image = Image(0x8000, 13);  // a few seconds on the paced line
    auto started = std::chrono::steady_clock::now();
    CliChild cli({"flash", image, "--cpu", "VireoC_TO2", "--mem-init", "none", "--port", a.serial(), "--port",
                  doomed.serial(), "--progress", "none"});
    ASSERT_TRUE(cli.WaitForOutput("[" + doomed.serial() + "] UART is using"));
    doomed.Signal(SIGKILL);
    EXPECT_EQ(cli.Wait(120s), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 90s);
    std::string out = cli.Output();
    EXPECT_NE(out.find(a.serial() + ": OK\n"), std::string::npos) << out;
    EXPECT_NE(out.find(doomed.serial() + ": FAILED - Downloading Error"), std::string::npos) << out;
    ExpectFlashHolds(a, "a", image);
}

TEST_F(CliBoards, CtrlCStopsEveryBoardAndPrintsTheSummary) {
    SimProcess& a = Board("a", {"--pace"});
    SimProcess& b = Board("b", {"--pace"});
    std::string image = Image(0x40000, 14);  // far longer than the test waits
    auto started = std::chrono::steady_clock::now();
    CliChild cli({"flash", image, "--cpu", "VireoC_TO2", "--mem-init", "none", "--port", a.serial(), "--port",
                  b.serial(), "--progress", "none"});
    ASSERT_TRUE(cli.WaitForOutput("[" + a.serial() + "] UART is using"));
    ASSERT_TRUE(cli.WaitForOutput("[" + b.serial() + "] UART is using"));
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(30s), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
    std::string out = cli.Output();
    EXPECT_NE(out.find(a.serial() + ": FAILED - Stopped\n"), std::string::npos) << out;
    EXPECT_NE(out.find(b.serial() + ": FAILED - Stopped\n"), std::string::npos) << out;
}

TEST_F(CliBoards, RetryGetsPastAOneOffFault) {
    SimProcess& flaky = Board("flaky", {"--fault", "reg-word:1"});
    SimProcess& steady = Board("steady");
    std::string image = Image(0x4000, 15);
    auto run = RunCli({"download", image, "--cpu", "VireoC_TO2", "--port", flaky.serial(), "--port", steady.serial(),
                       "--retry", "2", "--progress", "none"});
    EXPECT_EQ(run.status, 0) << run.out;
    Lines summary = Summary(run.OutLines(), 2);
    EXPECT_EQ(summary[0], flaky.serial() + ": OK");
    EXPECT_NE(run.err.find("2 tries"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("1 try\n"), std::string::npos) << run.err;

    // One board with --retry prints as one board does: no prefix, no summary.
    SimProcess& alone = Board("alone", {"--fault", "reg-word:1"});
    auto single = RunCli(
        {"download", image, "--cpu", "VireoC_TO2", "--port", alone.serial(), "--retry", "1", "--progress", "none"});
    EXPECT_EQ(single.status, 0) << single.out;
    Lines lines = single.OutLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "VireoC Sealbench ver 1.3s");
    EXPECT_EQ(lines.back(), "Downloading Complete - Program executing at 0x80004000");
}

TEST_F(CliBoards, ABoardFlashedPartlyOnAnEarlierTryIsSummarisedAsSuch) {
    // The first try ends at a program error while the library goes on writing; the
    // retry then finds no boot ROM to initialise the memory with and fails early.
    SimProcess& halfway = Board("halfway", {"--fault", "status-word:1:0x00B20000"});
    SimProcess& steady = Board("steady");
    std::string image = Image(0x4000, 17);
    auto run = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--port", halfway.serial(), "--port", steady.serial(),
                       "--retry", "1", "--progress", "none"});
    EXPECT_EQ(run.status, 1) << run.out;
    Lines summary = Summary(run.OutLines(), 2);
    EXPECT_EQ(summary[0], halfway.serial() + ": FAILED - DDR memory init error; the flash may hold part of the image");
    EXPECT_EQ(summary[1], steady.serial() + ": OK");

    SimProcess& alone = Board("alone", {"--fault", "status-word:1:0x00B20000"});
    auto single =
        RunCli({"flash", image, "--cpu", "VireoC_TO2", "--port", alone.serial(), "--retry", "1", "--progress", "none"});
    EXPECT_EQ(single.status, 1) << single.out;
    EXPECT_NE(single.err.find("An earlier try ran the flash library: the flash may hold part of the image"),
              std::string::npos)
        << single.err;
}

TEST_F(CliBoards, UsageErrorsAndNoUsbDevice) {
    SimProcess& board = Board("one");
    std::string image = Image(0x1000, 16);
    auto twice = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--port", board.serial(), "--port", board.serial()});
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("named twice"), std::string::npos) << twice.err;
    EXPECT_TRUE(twice.out.empty());
    auto usbTwice = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--usb-device", "sim:x", "--usb-device", "sim:x"});
    EXPECT_EQ(usbTwice.status, 2);
    auto allAndPort = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--usb", "all", "--port", board.serial()});
    EXPECT_EQ(allAndPort.status, 2);
    EXPECT_EQ(RunCli({"flash", image, "--cpu", "VireoC_TO2", "--port", board.serial(), "--retry", "-1"}).status, 2);
    // --port stays once-only where one board is all a command talks to.
    EXPECT_EQ(RunCli({"read", "80000000", "--cpu", "VireoC_TO2", "--port", "a", "--port", "b"}).status, 2);

    auto none = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--usb", "all"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("No USB detected!"), std::string::npos) << none.err;
    auto absent = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--usb-device", "sim:absent"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("No USB detected!"), std::string::npos) << absent.err;
}

TEST_F(CliBoards, UsbAllAndThePortsList) {
    SimProcess& u0 = Board("u0", {}, true);
    SimProcess& u1 = Board("u1", {}, true);
    auto ports = RunCli({"ports"});
    EXPECT_EQ(ports.status, 0);
    Lines lines = ports.OutLines();
    auto line = [&](const std::string& name) {
        auto found =
            std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return StartsWith(l, name); });
        return found == lines.end() ? std::string() : *found;
    };
    EXPECT_NE(line("sim:u0 ").find("--usb-device"), std::string::npos) << ports.out;
    EXPECT_NE(line("sim:u1 ").find("2b4e:7a31"), std::string::npos) << ports.out;

    std::string image = Image(0x2000, 17);
    auto all = RunCli({"flash", "--usb", "all", image, "--cpu", "VireoC_TO2", "--progress", "none"});
    EXPECT_EQ(all.status, 0) << all.out << all.err;
    Lines summary = Summary(all.OutLines(), 2);
    EXPECT_EQ(summary[0], "usb:sim:u0: OK");
    EXPECT_EQ(summary[1], "usb:sim:u1: OK");
    // "--usb IMAGE" still reads as the device and an image, but with two devices it
    // would have to guess: it names them and touches neither.
    ASSERT_TRUE(u0.WaitForStderr("USB device re-enumerates"));
    for (Lines retry : {Lines{}, Lines{"--retry", "1"}}) {
        Lines args{"download", "--usb", image, "--cpu", "VireoC_TO2", "--mem-init", "none", "--progress", "none"};
        args.insert(args.end(), retry.begin(), retry.end());
        auto guess = RunCli(args);
        EXPECT_EQ(guess.status, 1) << guess.out << guess.err;
        EXPECT_NE(guess.err.find("2 USB boot devices are connected: usb:sim:u0, usb:sim:u1"), std::string::npos)
            << guess.err;
        EXPECT_NE(guess.err.find("--usb-device"), std::string::npos) << guess.err;
    }
    // One named by its location, with --retry, is found by it on every try and printed as one board.
    auto first = RunCli({"download", image, "--usb-device", "sim:u0", "--cpu", "VireoC_TO2", "--mem-init", "none",
                         "--progress", "none", "--retry", "1"});
    EXPECT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_EQ(first.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "USB is using",
                                       "Downloading Complete - Program executing at 0x80004000"}));
    ExpectFlashHolds(u0, "u0", image);
    ExpectFlashHolds(u1, "u1", image);
}

}  // namespace
