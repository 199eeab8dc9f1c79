// sealbench-cli against peers that misbehave (tests/support/hostile_peers.h): a
// board's answer held up on the network, a port that prints a console, an RFC 2217
// server that floods, and a board that never answers a dump. No command may end
// well unless the board's answers prove it, and none may let memory run away.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "cli_process.h"
#include "hostile_peers.h"
#include "ser2net_process.h"
#include "sim_process.h"

namespace {

using sealtest::CliResult;
using sealtest::RunCli;
using sealtest::SimProcess;
using Lines = std::vector<std::string>;

const std::string kNotBootRom = "the board's answer is not a boot-ROM answer (is it in boot-ROM download mode?)";
// Far more than a host holds for one command's own work; what a flood or a
// zero-filled 4 GiB buffer makes of it is far more again. AddressSanitizer's
// shadow memory and quarantine alone take some 100 MiB of a program.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kBoundedKiB = 192 * 1024;
#else
constexpr long kBoundedKiB = 64 * 1024;
#endif

std::string Rfc2217Of(SimProcess& sim) {
    const std::string line = sim.Line();
    const std::string prefix = "rfc2217: ";
    return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : std::string();
}

int PortOf(const std::string& url) { return std::stoi(url.substr(url.rfind(':') + 1)); }

class NetHostile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-hostile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Image(size_t size) {
        std::mt19937 random(static_cast<unsigned>(size));
        std::string path = dir_ + "/image.bin";
        std::ofstream out(path, std::ios::binary);
        for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(random()));
        return path;
    }

    bool FlashHolds(const std::string& dump, const std::string& image) {
        auto flash = sealtest::ReadFile(dump);
        auto expected = sealtest::ReadFile(image);
        return flash.size() >= expected.size() && std::equal(expected.begin(), expected.end(), flash.begin());
    }

    std::string dir_;
};

TEST_F(NetHostile, AStatusAnswerHeldUpOnTheNetworkDoesNotPutLaterAnswersOutOfStep) {
    // Two bytes of the third status answer come 3.3 s late, after the host's receive
    // has given up on them; every answer after it must still be read from its start.
    const std::string dump = dir_ + "/flash.out";
    SimProcess sim("VireoC_TO2", {"--rfc2217", "0", "--dump-flash", dump});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string board = Rfc2217Of(sim);
    ASSERT_FALSE(board.empty());
    sealtest::Proxy proxy(PortOf(board), {.stallAtQuery = 3});
    const std::string image = Image(0x200000);
    CliResult run = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--progress", "none", "--port",
                            "rfc2217://127.0.0.1:" + std::to_string(proxy.port())},
                           std::chrono::seconds(180));
    EXPECT_TRUE(proxy.Stalled());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "UART is using", "Flashing Completed"}));
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(FlashHolds(dump, image));
}

TEST_F(NetHostile, ReadAndDumpRefuseWhatIsNotTheBootRomOverEveryKindOfPort) {
    // A board in its firmware (the jig starts it there) prints its console and
    // echoes; a Linux console prints on whatever it is sent.
    SimProcess firmware("VireoC_TO2", {"--jig"});
    ASSERT_TRUE(firmware.ok()) << firmware.error();
    sealtest::Ser2netProcess telnet(firmware.serial(), sealtest::Ser2netProcess::Kind::Rfc2217);
    ASSERT_TRUE(telnet.ok()) << telnet.error();
    sealtest::ConsolePort console;
    const std::vector<std::string> ports{firmware.serial(), telnet.Url(),
                                         "socket://127.0.0.1:" + std::to_string(console.port())};
    const std::string out = dir_ + "/dump.bin";
    for (const std::string& port : ports) {
        for (std::vector<std::string> args : {std::vector<std::string>{"read", "80000000"},
                                              std::vector<std::string>{"dump", "80000000", "1000", "-o", out}}) {
            args.insert(args.end(), {"--cpu", "VireoC_TO2", "--progress", "none", "--port", port});
            CliResult run = RunCli(args, std::chrono::seconds(60));
            EXPECT_EQ(run.status, 1) << args[0] << " " << port << "\n" << run.out << run.err;
            const Lines lines = run.OutLines();
            EXPECT_NE(std::find(lines.begin(), lines.end(), kNotBootRom), lines.end()) << args[0] << " " << port << "\n"
                                                                                       << run.out;
            EXPECT_FALSE(std::filesystem::exists(out)) << port;
        }
    }
}

TEST_F(NetHostile, AnRfc2217ServerThatFloodsBeforeItAgreesCannotGrowTheHostsMemory) {
    auto read = [](int port) {
        return RunCli(
            {"read", "80000000", "--cpu", "VireoC_TO2", "--port", "rfc2217://127.0.0.1:" + std::to_string(port)},
            std::chrono::seconds(60));
    };
    // What the command holds while a server says nothing: the flood may add little to that.
    sealtest::Listener silent;
    const CliResult quiet = read(silent.port());
    EXPECT_EQ(quiet.status, 1) << quiet.err;
    constexpr long kFloodSlackKiB = 32 * 1024;
    sealtest::FloodingServer flood;
    const CliResult run = read(flood.port());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("did not agree to COM port control"), std::string::npos) << run.err;
    EXPECT_GT(flood.sent(), uint64_t{2 * kFloodSlackKiB} * 1024) << "the flood was too slow to tell";
    EXPECT_LT(run.peakKiB, quiet.peakKiB + kFloodSlackKiB) << "with a silent server: " << quiet.peakKiB << " KiB";
}

TEST_F(NetHostile, DumpHoldsNoMoreMemoryForFourGibibytesThanForOnePiece) {
    // The board takes the connection and never answers: the first read fails, and
    // nothing before it may have set the whole length aside.
    sealtest::Listener silent;
    const std::string out = dir_ + "/all.bin";
    CliResult run = RunCli({"dump", "0", "FFFFFFFF", "-o", out, "--cpu", "VireoC_TO2", "--progress", "none", "--port",
                            "socket://127.0.0.1:" + std::to_string(silent.port())},
                           std::chrono::seconds(60));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_LT(run.peakKiB, kBoundedKiB);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(NetHostile, FastFlashingOverRfc2217GetsPastADamagedFirstBlockAsOverAPty) {
    // Host byte 20000 lies in the stream's first block; the stream's short waits
    // must reach the network port, or each resend waits out the port's own limit
    // and the library gives up on the fast rate meanwhile.
    const std::string dump = dir_ + "/flash.out";
    SimProcess sim("VireoC_TO2", {"--fault", "corrupt:20000", "--dump-flash", dump});
    ASSERT_TRUE(sim.ok()) << sim.error();
    sealtest::Ser2netProcess server(sim.serial(), sealtest::Ser2netProcess::Kind::Rfc2217);
    ASSERT_TRUE(server.ok()) << server.error();
    const std::string image = Image(0x100000);
    CliResult run =
        RunCli({"flash", image, "--fast", "--cpu", "VireoC_TO2", "--progress", "none", "--port", server.Url()},
               std::chrono::seconds(180));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    ASSERT_FALSE(run.OutLines().empty());
    EXPECT_EQ(run.OutLines().back(), "Flashing Completed");
    EXPECT_TRUE(sim.WaitForStderr("fault: host byte 20000 corrupted"));
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(FlashHolds(dump, image));
}

TEST_F(NetHostile, FastFlashingThroughAStarvedLinkEndsWithAdviceThatFitsIt) {
    // Once the library is loaded, the board's bytes reach the host one a second.
    SimProcess sim("VireoC_TO2", {"--rfc2217", "0"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string board = Rfc2217Of(sim);
    ASSERT_FALSE(board.empty());
    sealtest::Proxy proxy(PortOf(board), {.boardBytesPerSecond = 1, .starveAfterClientBytes = 13300});
    CliResult run = RunCli({"flash", Image(0x100000), "--fast", "--cpu", "VireoC_TO2", "--progress", "none", "--port",
                            "rfc2217://127.0.0.1:" + std::to_string(proxy.port())},
                           std::chrono::seconds(180));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("the link is too slow for fast serial flashing"), std::string::npos) << run.out << run.err;
    EXPECT_EQ(run.out.find("Try a lower"), std::string::npos) << run.out;
}

}  // namespace
