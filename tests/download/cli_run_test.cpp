// sealbench-cli download, flash and mem-init as a script runs them: the status
// lines on stdout, the exit codes, against the real vireo-sim process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "cli_process.h"
#include "cli_test_dir.h"
#include "sim_process.h"

namespace {

using sealtest::RunCli;
using sealtest::SimProcess;
using Lines = std::vector<std::string>;

class CliRun : public sealtest::CliTestDir {
protected:
    CliRun() : CliTestDir("sealbench-clirun") {}

    std::string File(const std::string& name, size_t size, uint8_t seed = 1) {
        return PatternFile(name, size, seed, 13, 9);
    }
};

TEST_F(CliRun, UsageErrorsExitTwo) {
    std::string image = File("image.bin", 100);
    auto noCpu = RunCli({"download", image, "--port", "/dev/null"});
    EXPECT_EQ(noCpu.status, 2);
    EXPECT_NE(noCpu.err.find("Please select the Vireo version"), std::string::npos) << noCpu.err;
    EXPECT_TRUE(noCpu.out.empty());

    EXPECT_EQ(RunCli({"download", image, "--cpu", "VireoB", "--address", "123456789"}).status, 2);
    EXPECT_EQ(RunCli({"flash", image, "--cpu", "VireoB", "--flash-type", "user"}).status, 2);
    EXPECT_EQ(RunCli({"flash", image, "--cpu", "VireoB", "--flash-type", "nor2"}).status, 2);
    EXPECT_EQ(RunCli({"download", "--cpu", "VireoB"}).status, 2);
    auto script = RunCli({"mem-init", "--cpu", "VireoB", "--port", "/dev/null", "--mem-init", dir_ + "/none.txt"});
    EXPECT_EQ(script.status, 2);
    EXPECT_TRUE(script.out.empty());
}

TEST_F(CliRun, ConnectionFailuresExitOne) {
    std::string image = File("image.bin", 100);
    auto noPort = RunCli({"download", image, "--cpu", "VireoC_TO1"});
    EXPECT_EQ(noPort.status, 1);
    EXPECT_EQ(noPort.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "Error! - Please select the Com port"}));

    auto badPort = RunCli({"flash", image, "--cpu", "VireoC_TO1", "--port", dir_ + "/ttyNothing"});
    EXPECT_EQ(badPort.status, 1);
    EXPECT_NE(badPort.err.find("Cannot Open " + dir_ + "/ttyNothing"), std::string::npos) << badPort.err;

    setenv("BOOTWIRE_USB_SIM", (dir_ + "/no.sock").c_str(), 1);
    auto noUsb = RunCli({"mem-init", "--cpu", "VireoB", "--usb"});
    unsetenv("BOOTWIRE_USB_SIM");
    EXPECT_EQ(noUsb.status, 1);
    EXPECT_NE(noUsb.err.find("No USB detected!"), std::string::npos) << noUsb.err;

    auto nand = RunCli({"flash", image, "--cpu", "VireoB", "--flash-type", "nand"});
    EXPECT_EQ(nand.status, 1);
    EXPECT_EQ(nand.OutLines(), Lines{"VireoB not support NAND flash yet!"});
}

TEST_F(CliRun, FlashNorAgainstTheBoard) {
    std::string dump = dir_ + "/flash.out";
    SimProcess sim("VireoC_TO2", {"--dump-flash", dump});
    ASSERT_TRUE(sim.ok());
    std::string image = File("image.bin", 0x12345, 3);
    auto run = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--port", sim.serial(), "--progress", "none"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "UART is using", "Flashing Completed"}));
    EXPECT_EQ(sim.Stop(), 0);
    auto flash = sealtest::ReadFile(dump);
    auto expected = sealtest::ReadFile(image);
    ASSERT_GE(flash.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
}

TEST_F(CliRun, DownloadWithPlainProgressAndAScript) {
    SimProcess sim("VireoB");
    ASSERT_TRUE(sim.ok());
    std::string script = dir_ + "/init.txt";
    std::ofstream(script) << "# VireoB DDR\n0xD8002000 0x0000CC03 32\n0xD8001010 0x0000000C 32 # refresh\n";
    std::string image = File("image.bin", 5000, 4);
    auto run = RunCli({"download", image, "--address", "0xA0100000", "--cpu", "VireoB", "--port", sim.serial(),
                       "--mem-init", script, "--progress", "plain"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.OutLines(), (Lines{"VireoB Sealbench ver 1.0", "UART is using",
                                     "Downloading Complete - Program executing at 0xa0100000"}));
    EXPECT_NE(run.err.find("Downloading: 100%"), std::string::npos) << run.err;
}

TEST_F(CliRun, MemInitAndItsFailures) {
    SimProcess sim("VireoC_TO1", {"--fault", "reg-word:3"});
    ASSERT_TRUE(sim.ok());
    auto sdram = RunCli({"mem-init", "--cpu", "VireoC_TO1", "--port", sim.serial(), "--mem-init", "sdram"});
    EXPECT_EQ(sdram.status, 1);
    EXPECT_EQ(sdram.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "Error! - SDRAM init error"}));
    auto none = RunCli({"mem-init", "--cpu", "VireoC_TO1", "--port", sim.serial(), "--mem-init", "none"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "Memory Init Done - "}));

    std::string bad = dir_ + "/bad.txt";
    std::ofstream(bad) << "0xB8001004 0x006AC73A 32\n0xB8001000 92100000 32\n";
    auto malformed =
        RunCli({"download", File("image.bin", 3000), "--cpu", "VireoC_TO1", "--port", sim.serial(), "--mem-init", bad});
    EXPECT_EQ(malformed.status, 1);
    Lines lines = malformed.OutLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "Error! - Memory init error");
    EXPECT_NE(lines[3].find("line 2"), std::string::npos) << lines[3];
}

TEST_F(CliRun, FlashingErrorWordExitsOne) {
    // A built-in library's final codes carry no count (its datasheet).
    SimProcess sim("VireoC_TO1", {"--fault", "status-word:1:0x00B20000"});
    ASSERT_TRUE(sim.ok());
    auto run = RunCli({"flash", File("image.bin", 4096), "--cpu", "VireoC_TO1", "--port", sim.serial(), "--mem-init",
                       "none", "--progress", "none"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(),
              (Lines{"VireoC Sealbench ver 1.3s", "UART is using", "Error!!- Reason: Flashing Program Error"}));
}

TEST_F(CliRun, StatusTimeoutBoundsTheSilenceOfAUsersFlashLibrary) {
    // A library that never answers: "b ." at its entry.
    const std::string library = File("loop.bin", 0x4004, 0);
    {
        std::fstream patch(library, std::ios::in | std::ios::out | std::ios::binary);
        patch.seekp(0x4000);
        patch.write("\xFE\xFF\xFF\xEA", 4);
    }
    const std::string image = File("image.bin", 4096);
    SimProcess sim("VireoC_TO1");
    ASSERT_TRUE(sim.ok());
    const std::vector<std::string> run{"flash",      image,       "--flash-type", "user",  "--flash-lib",
                                       library,      "--address", "A0000000",     "--cpu", "VireoC_TO1",
                                       "--mem-init", "none",      "--progress",   "none"};
    auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), run.begin(), run.end());
        return extra;
    };
    auto silent = RunCli(with({"--port", sim.serial(), "--status-timeout", "2"}));
    EXPECT_EQ(silent.status, 1) << silent.err;
    ASSERT_GE(silent.OutLines().size(), 3u) << silent.out;
    EXPECT_EQ(silent.OutLines()[2], "Error!!- Reason: The flash library stopped answering: no status word for 2 s");
    for (const char* bad : {"0", "x", "-3"}) {
        EXPECT_EQ(RunCli(with({"--port", sim.serial(), "--status-timeout", bad})).status, 2) << bad;
    }
    auto fast =
        RunCli({"flash", image, "--fast", "--status-timeout", "30", "--cpu", "VireoC_TO1", "--port", sim.serial()});
    EXPECT_EQ(fast.status, 2);
    EXPECT_NE(fast.err.find("--status-timeout"), std::string::npos) << fast.err;
}

TEST_F(CliRun, BoardThatStopsReadingEndsWithinAMinute) {
    SimProcess sim("VireoC_TO2", {"--fault", "silent-after:30000"});
    ASSERT_TRUE(sim.ok());
    auto run = RunCli(
        {"download", File("image.bin", 0x40000), "--cpu", "VireoC_TO2", "--port", sim.serial(), "--mem-init", "none"},
        std::chrono::seconds(90));
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty());
    EXPECT_EQ(run.OutLines().end()[-2], "Error!!- Reason: Downloading Error");
    EXPECT_EQ(run.OutLines().back(), "the board did not answer: is it in boot-ROM download mode? reset it and retry");
}

TEST_F(CliRun, FlashOverUsb) {
    SimProcess sim("VireoB", {}, true);
    ASSERT_TRUE(sim.ok());
    setenv("BOOTWIRE_USB_SIM", sim.usbSocket().c_str(), 1);
    auto run = RunCli({"flash", File("image.bin", 0x2000), "--cpu", "VireoB", "--usb", "--progress", "none"});
    unsetenv("BOOTWIRE_USB_SIM");
    EXPECT_EQ(run.status, 0) << run.err;
    Lines lines = run.OutLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Flashing Completed");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "USB is using"), lines.end());
}

}  // namespace
