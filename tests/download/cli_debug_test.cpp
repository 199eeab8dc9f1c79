// sealbench-cli against a board that does not answer, over the pty and the USB
// socket: every target command ends within seconds with a line that says what to
// do; and the commands that read and write single words or blocks of memory.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cli_process.h"
#include "sim_process.h"

namespace {

using sealtest::CliResult;
using sealtest::RunCli;
using sealtest::SimProcess;
using Lines = std::vector<std::string>;

// A silent board must not cost the user more than a few seconds; far below this.
constexpr auto kSilentBoardLimit = std::chrono::seconds(40);
const std::string kNoAnswerHint = "the board did not answer: is it in boot-ROM download mode? reset it and retry";

class CliDebug : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-clidebug-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        unsetenv("BOOTWIRE_USB_SIM");
        std::filesystem::remove_all(dir_);
    }

    std::string File(const std::string& name, size_t size, uint8_t seed = 1) {
        std::string path = dir_ + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(seed + i * 7 + (i >> 8)));
        return path;
    }

    static bool Contains(const Lines& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::string dir_;
};

TEST_F(CliDebug, EveryTargetCommandEndsOnASilentBoardOverBothLinks) {
    SimProcess sim("VireoC_TO2", {"--fault", "silent-after:0"}, true);
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string image = File("image.bin", 0x2000);
    const std::vector<std::vector<std::string>> commands{
        {"read", "80000000"},
        {"sekurel-status"},
        {"write-reg", "B8001004", "1"},
        {"mem-init"},
        {"download", image},
        {"flash", image},
        {"dump", "80000000", "100", "-o", dir_ + "/dump.bin"},
    };
    for (bool usb : {false, true}) {
        for (std::vector<std::string> args : commands) {
            std::string name = args[0] + (usb ? " over USB" : " over the pty");
            args.insert(args.end(), {"-c", "VireoC_TO2", "--progress", "none"});
            if (usb) {
                setenv("BOOTWIRE_USB_SIM", sim.usbSocket().c_str(), 1);
                args.push_back("--usb");
            } else {
                unsetenv("BOOTWIRE_USB_SIM");
                args.insert(args.end(), {"-p", sim.serial()});
            }
            CliResult run = RunCli(args, kSilentBoardLimit);
            EXPECT_EQ(run.status, 1) << name << "\n" << run.out << run.err;
            Lines lines = run.OutLines();
            EXPECT_TRUE(Contains(lines, kNoAnswerHint)) << name << "\n" << run.out;
            if (args[0] == "mem-init" || args[0] == "download" || args[0] == "flash") {
                // The system's own line comes first, the hint right after it.
                auto at = std::find(lines.begin(), lines.end(), "Error! - DDR memory init error");
                ASSERT_NE(at, lines.end()) << name << "\n" << run.out;
                ASSERT_NE(at + 1, lines.end());
                EXPECT_EQ(*(at + 1), kNoAnswerHint) << name;
            }
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/dump.bin"));
}

TEST_F(CliDebug, ABoardThatFallsSilentAfterTheDownloadGetsTheHint) {
    // The board takes the whole download (header, image, application header with
    // its 1024 bytes) and then answers nothing: the get-status goes unanswered.
    const size_t imageSize = 0x3000;
    const size_t sent = 16 + imageSize + 0xC000 + 16 + 1024;
    SimProcess sim("VireoC_TO1", {"--fault", "silent-after:" + std::to_string(sent)});
    ASSERT_TRUE(sim.ok()) << sim.error();
    CliResult run = RunCli({"flash", File("image.bin", imageSize), "-c", "VireoC_TO1", "-p", sim.serial(), "--mem-init",
                            "none", "--progress", "none"},
                           kSilentBoardLimit);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.OutLines(),
              (Lines{"VireoC Sealbench ver 1.3s", "UART is using",
                     "Error!!- Reason: Download code or the Flash Program can't be executed, Check the SekurelType",
                     kNoAnswerHint}));
    // The byte count of what was missing is told once.
    size_t first = run.err.find("0 of 4 bytes");
    ASSERT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("of 4 bytes", first + 12), std::string::npos) << run.err;
    // Nothing reached the flash: the summary does not say it might have.
    EXPECT_NE(run.err.find("Failed after "), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("the flash may hold"), std::string::npos) << run.err;
}

TEST_F(CliDebug, WriteRegConfirmsAndDumpReadsRamBack) {
    SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::vector<std::string> board{"-c", "VireoC_TO2", "-p", sim.serial()};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), board.begin(), board.end());
        return args;
    };
    ASSERT_EQ(RunCli(with({"mem-init"})).status, 0);
    CliResult write = RunCli(with({"write-reg", "80000100", "0xDEADBEEF"}));
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(write.OutLines(),
              (Lines{"VireoC Sealbench ver 1.3s", "Register/Memory 0x80000100 written: 0xdeadbeef (32 bits)"}));
    ASSERT_EQ(RunCli(with({"write-reg", "80000104", "01020304"})).status, 0);

    std::string out = dir_ + "/ram.bin";
    CliResult dump = RunCli(with({"dump", "80000100", "8", "-o", out, "--progress", "plain"}));
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "Memory 0x80000100 to 0x80000107 saved to " + out}));
    EXPECT_NE(dump.err.find("Reading: 100%"), std::string::npos) << dump.err;
    EXPECT_EQ(sealtest::ReadFile(out), (std::vector<unsigned char>{0xEF, 0xBE, 0xAD, 0xDE, 4, 3, 2, 1}));
    // "-" is standard output: the bytes alone there, the status-log lines beside the progress.
    CliResult piped = RunCli(with({"dump", "80000100", "8", "-o", "-", "--progress", "none"}));
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, std::string("\xEF\xBE\xAD\xDE\x04\x03\x02\x01", 8));
    EXPECT_NE(piped.err.find("Memory 0x80000100 to 0x80000107 saved to standard output"), std::string::npos)
        << piped.err;
    EXPECT_FALSE(std::filesystem::exists("-"));

    // Bad ranges are usage errors; nothing is written.
    EXPECT_EQ(RunCli(with({"dump", "FFFFFFF0", "20", "-o", out + ".2"})).status, 2);
    EXPECT_EQ(RunCli(with({"dump", "80000000", "0", "-o", out + ".2"})).status, 2);
    EXPECT_EQ(RunCli(with({"dump", "80000000", "10"})).status, 2);  // -o is required
    EXPECT_FALSE(std::filesystem::exists(out + ".2"));
}

TEST_F(CliDebug, DumpReadsFlashedNorBackAcrossPieces) {
    SimProcess sim("VireoB");
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string image = File("image.bin", 0x2345, 5);
    CliResult flash = RunCli({"flash", image, "-c", "VireoB", "-p", sim.serial(), "--progress", "none"});
    ASSERT_EQ(flash.status, 0) << flash.out << flash.err;
    std::string out = dir_ + "/nor.bin";
    // 0x2345 bytes take three read commands.
    CliResult dump = RunCli({"dump", "C0000000", "2345", "-o", out, "-c", "VireoB", "-p", sim.serial()});
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(sealtest::ReadFile(out), sealtest::ReadFile(image));
}

TEST_F(CliDebug, AUsbDeviceThatCannotBeOpenedIsNotCalledMissing) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs root to run the command as another user";
    }
    sealtest::CliRunOptions options;
    options.wrapper = sealtest::AsNobody();
    if (options.wrapper.empty()) {
        GTEST_SKIP() << "the build tree is out of reach of other users";
    }
    SimProcess sim("VireoB", {}, true);
    ASSERT_TRUE(sim.ok()) << sim.error();
    // The socket stands for a device node that only its owner may open.
    ASSERT_EQ(chmod(sim.usbSocket().c_str(), 0600), 0);
    // Its folder may be searched, so that the device is seen to be there.
    std::string folder = std::filesystem::path(sim.usbSocket()).parent_path();
    ASSERT_EQ(chmod(folder.c_str(), 0711), 0);
    setenv("BOOTWIRE_USB_SIM", sim.usbSocket().c_str(), 1);
    CliResult run = sealtest::RunCli({"read", "0", "-c", "VireoB", "--usb"}, options);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(run.err.find("No USB detected!"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("was found but cannot be opened"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("udev rule"), std::string::npos) << run.err;
    // The driver layer's own line is out before the command's verdict.
    EXPECT_NE(run.out.find("Could not open device"), std::string::npos) << run.out;
}

}  // namespace
