// sealbench-cli as a new user meets it: versions, mistyped commands, short options,
// inputs refused before the board is touched, and progress that tells the time.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli_process.h"
#include "sim_process.h"

namespace {

using sealtest::CliResult;
using sealtest::RunCli;
using sealtest::SimProcess;
using Lines = std::vector<std::string>;

class CliConventions : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-cliconv-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string File(const std::string& name, size_t size, uint8_t seed = 1) {
        std::string path = dir_ + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(seed + i * 11 + (i >> 10)));
        return path;
    }

    static Lines ErrLines(const CliResult& run) {
        Lines lines;
        std::istringstream in(run.err);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::string dir_;
};

TEST_F(CliConventions, VersionHelpAndMistypedCommands) {
    for (const char* flag : {"--version", "-V"}) {
        CliResult version = RunCli({flag});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, std::string("sealbench-cli ") + SEALBENCH_VERSION + "\n");
    }
    CliResult help = RunCli({"read", "-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("-p,--port"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("-c,--cpu"), std::string::npos) << help.out;

    CliResult typo = RunCli({"flsh", "image.bin", "-c", "VireoB"});
    EXPECT_EQ(typo.status, 2);
    EXPECT_NE(typo.err.find("unknown command 'flsh' (did you mean 'flash'?)"), std::string::npos) << typo.err;
    EXPECT_TRUE(typo.out.empty());
    CliResult prefix = RunCli({"sekurel"});
    EXPECT_EQ(prefix.status, 2);
    EXPECT_NE(prefix.err.find("(did you mean 'sekurel-status'?)"), std::string::npos) << prefix.err;

    CliResult both = RunCli({"read", "0", "-c", "VireoB", "--usb", "-p", "/dev/ttyS0"});
    EXPECT_EQ(both.status, 2);
    EXPECT_TRUE(both.out.empty());
    EXPECT_NE(both.err.find("--usb"), std::string::npos) << both.err;
}

TEST_F(CliConventions, InputsAreCheckedBeforeThePortIsOpened) {
    // The port named here does not exist: had the command touched it, it would say "Cannot Open".
    const std::string port = dir_ + "/ttyNothing";
    CliResult image = RunCli({"download", dir_ + "/missing.bin", "-c", "VireoC_TO2", "-p", port});
    EXPECT_EQ(image.status, 1);
    EXPECT_EQ(image.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "Error!!- Reason: Can't open image file!",
                                       "The image file " + dir_ +
                                           "/missing.bin cannot be read: No such file or "
                                           "directory"}));
    EXPECT_EQ(image.err.find("Cannot Open"), std::string::npos) << image.err;

    CliResult folder = RunCli({"flash", dir_, "-c", "VireoB", "-p", port});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.OutLines(), (Lines{"VireoB Sealbench ver 1.0", "Error!!- Reason: Can't open the Image File",
                                        "The image file " + dir_ + " is a folder, not a file"}));

    CliResult library = RunCli({"flash", File("image.bin", 100), "--flash-type", "user", "--flash-lib",
                                dir_ + "/lib.bin", "-c", "VireoB", "-p", port});
    EXPECT_EQ(library.status, 1);
    ASSERT_EQ(library.OutLines().size(), 3u) << library.out;
    EXPECT_EQ(library.OutLines()[1], "Error!!- Reason: Can't open the Flash Library");
    EXPECT_NE(library.OutLines()[2].find(dir_ + "/lib.bin cannot be read"), std::string::npos);

    CliResult address =
        RunCli({"download", File("image.bin", 100), "--address", "1FFFFFFF", "-c", "VireoC_TO1", "-p", port});
    EXPECT_EQ(address.status, 1);
    EXPECT_EQ(address.OutLines(),
              (Lines{"VireoC Sealbench ver 1.3s", "Error! - Incorrect Input Memory Address",
                     "The RAM application address must lie in 0x1FFFC000 to 0x1FFFFFFE or 0x80000000 to "
                     "0xB7FFFFFF"}));
    EXPECT_EQ(address.err.find("Cannot Open"), std::string::npos) << address.err;
}

TEST_F(CliConventions, PlainProgressOfAFlashRunTellsBytesAndEndsEachStageFull) {
    SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    const size_t size = 0x24000;
    CliResult run =
        RunCli({"flash", File("image.bin", size), "-c", "VireoC_TO2", "-p", sim.serial(), "--progress", "plain"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "UART is using", "Flashing Completed"}));

    // Every stage in order; within one, the per cent only grows and ends at 100.
    std::vector<std::string> order;
    std::map<std::string, std::vector<int>> percents;
    std::string summary;
    for (const std::string& line : ErrLines(run)) {
        size_t colon = line.find(": ");
        size_t percent = line.find('%');
        if (line.rfind("Flashed ", 0) == 0) {
            summary = line;
        } else if (colon != std::string::npos && percent != std::string::npos && percent > colon) {
            std::string caption = line.substr(0, colon + 1);
            if (percents.find(caption) == percents.end()) order.push_back(caption);
            percents[caption].push_back(std::stoi(line.substr(colon + 2)));
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{
                         "Downloading:", "Start Flashing:", "Flash Erase:", "Flash Program:", "Flash Verify:"}))
        << run.err;
    for (const auto& [caption, values] : percents) {
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << caption << "\n" << run.err;
        EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end()) << caption << "\n" << run.err;
        EXPECT_EQ(values.back(), 100) << caption << "\n" << run.err;
    }
    // The download's line tells its bytes when it ends.
    EXPECT_NE(run.err.find("Downloading: 100%  193 KiB in "), std::string::npos) << run.err;
    EXPECT_NE(summary.find("(147456 bytes) to NOR flash at 0xa0000000 in "), std::string::npos) << summary;
    EXPECT_NE(summary.find("verified"), std::string::npos) << summary;
}

TEST_F(CliConventions, ShortDownloadsAlwaysShowTheirEnd) {
    // A download that ends between two looks of the progress task used to print no
    // "Downloading: 100%" at all; many short runs make that likely, were it still there.
    std::string image = File("small.bin", 600);
    for (int i = 0; i < 6; ++i) {
        // The board runs the image afterwards: each run gets a board of its own.
        SimProcess sim("VireoB");
        ASSERT_TRUE(sim.ok()) << sim.error();
        CliResult run = RunCli(
            {"download", image, "-c", "VireoB", "-p", sim.serial(), "--mem-init", "none", "--progress", "plain"});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.err.find("Downloading: 100%"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Downloaded 600 B (600 bytes) into RAM at 0xa0004000"), std::string::npos) << run.err;
    }
}

}  // namespace
