// sealbench-cli as a new user meets it: versions, mistyped commands, short options,
// inputs refused before the board is touched, and progress that tells the time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "cli_process.h"
#include "cli_test_dir.h"
#include "sim_process.h"

namespace {

using sealtest::CliResult;
using sealtest::RunCli;
using sealtest::SimProcess;
using Lines = std::vector<std::string>;

class CliConventions : public sealtest::CliTestDir {
protected:
    CliConventions() : CliTestDir("sealbench-cliconv") {}

    std::string File(const std::string& name, size_t size, uint8_t seed = 1) {
        return PatternFile(name, size, seed, 11, 10);
    }

    static Lines ErrLines(const CliResult& run) {
        Lines lines;
        std::istringstream in(run.err);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
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

TEST_F(CliConventions, PlainProgressNeverShowsAllBytesBelowHundredPerCent) {
    // On the paced line the last bytes wait in the pty while the host has sent them
    // all: that moment is not 90 %, it is the stage's end still to come.
    SimProcess sim("VireoB", {"--pace"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    CliResult run = RunCli({"download", File("small.bin", 8192), "-c", "VireoB", "-p", sim.serial(), "--mem-init",
                            "none", "--progress", "plain"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::regex allBytes(R"(^Downloading: (\d+)%  (\S+ \S+) / (\S+ \S+))");
    for (const std::string& line : ErrLines(run)) {
        std::smatch m;
        if (std::regex_search(line, m, allBytes)) {
            EXPECT_FALSE(m[2] == m[3] && std::stoi(m[1]) < 100) << run.err;
        }
    }
    EXPECT_NE(run.err.find("Downloading: 100%  "), std::string::npos) << run.err;
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

// Runs sealbench-cli with its standard error on a terminal `columns` wide and
// returns what the terminal received.
std::string RunOnTerminal(const std::vector<std::string>& args, unsigned short columns) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
    winsize size{};
    size.ws_col = columns;
    size.ws_row = 24;
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || ioctl(slave, TIOCSWINSZ, &size) != 0) return {};
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, devnull, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, slave, STDERR_FILENO);
    std::vector<std::string> all{SEALBENCH_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    bool spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(slave);
    close(devnull);
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (spawned && std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the last writer is gone
        text.append(buffer, static_cast<size_t>(n));
    }
    close(master);
    if (spawned) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == 0) kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    return text;
}

TEST_F(CliConventions, TheBarFitsTheTerminalAndKeepsOneWidth) {
    for (unsigned short columns : {50, 80}) {
        SimProcess sim("VireoC_TO2", {"--pace"});
        ASSERT_TRUE(sim.ok()) << sim.error();
        std::string screen =
            RunOnTerminal({"flash", File("image.bin", 0x6000), "-c", "VireoC_TO2", "-p", sim.serial()}, columns);
        ASSERT_NE(screen.find("Flashed "), std::string::npos) << screen;
        // Every piece the terminal shows between carriage returns and line feeds (the
        // erase sequence taken out) is narrower than the terminal, so nothing wraps,
        // and every bar in it is as wide as the others, whatever its figures say.
        std::set<size_t> barWidths;
        size_t bars = 0;
        std::string piece;
        for (size_t i = 0; i <= screen.size(); ++i) {
            if (i == screen.size() || screen[i] == '\r' || screen[i] == '\n') {
                size_t open = piece.find(" ["), close = piece.find(']');
                if (open != std::string::npos && close != std::string::npos && close > open) {
                    ++bars;
                    barWidths.insert(close - open - 2);
                }
                if (piece.rfind("Flashed ", 0) != 0) {
                    EXPECT_LT(piece.size(), columns) << piece;
                }
                piece.clear();
            } else if (screen.compare(i, 3, "\033[K") == 0) {
                i += 2;
            } else {
                piece += screen[i];
            }
        }
        EXPECT_GT(bars, 3u) << screen;
        EXPECT_EQ(barWidths.size(), 1u) << columns << " columns:\n" << screen;
    }
}

}  // namespace
