// sealbench-cli with --port rfc2217://... and socket://...: the real ser2net in
// front of the real vireo-sim, the status lines, exit codes and the flash the
// board holds afterwards.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>

#include "cli_process.h"
#include "ser2net_process.h"
#include "sim_process.h"

namespace {

using sealtest::RunCli;
using sealtest::Ser2netProcess;
using sealtest::SimProcess;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

// sealbench-cli running in the background, its stderr watched as it comes.
class BackgroundCli {
public:
    explicit BackgroundCli(std::vector<std::string> args) {
        int err[2];
        if (::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        args.insert(args.begin(), SEALBENCH_CLI_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(err[1]);
        err_ = err[0];
    }
    ~BackgroundCli() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (err_ >= 0) ::close(err_);
    }

    // Reads stderr until it matches `pattern` or the limit passes.
    bool WaitForStderr(const std::string& pattern, std::chrono::seconds limit) {
        const std::regex wanted(pattern);
        const auto deadline = Clock::now() + limit;
        while (!std::regex_search(stderr_, wanted)) {
            if (!ReadSome(deadline)) return false;
        }
        return true;
    }
    // The exit status once the process ended within the limit, else -1 (and it is killed).
    int Wait(std::chrono::seconds limit) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline && ReadSome(deadline)) {
        }
        int status = 0;
        while (Clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::poll(nullptr, 0, 20);
        }
        return -1;
    }
    const std::string& Stderr() const { return stderr_; }

private:
    // False at end of file or at the deadline.
    bool ReadSome(Clock::time_point deadline) {
        pollfd p{err_, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        char buffer[1024];
        ssize_t n = ::read(err_, buffer, sizeof buffer);
        if (n <= 0) return false;
        stderr_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int err_ = -1;
    std::string stderr_;
};

class NetCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (Ser2netProcess::Executable().empty()) {
            GTEST_SKIP() << "ser2net is not installed; scripts/install-deps.sh installs it";
        }
        char pattern[] = "/tmp/sealbench-netcli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    std::string File(const std::string& name, size_t size, uint8_t seed) {
        std::string path = dir_ + "/" + name;
        std::ofstream out(path, std::ios::binary);
        // Every eighth byte 0xFF, Telnet's escape byte.
        for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(i % 8 == 0 ? 0xFF : seed + i * 13 + (i >> 9)));
        return path;
    }

    std::string dir_;
};

TEST_F(NetCli, FlashNorReadAndWriteRegisterThroughRfc2217) {
    const std::string dump = dir_ + "/flash.out";
    SimProcess sim("VireoC_TO2", {"--dump-flash", dump, "--flashlib", "model"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    Ser2netProcess server(sim.serial(), Ser2netProcess::Kind::Rfc2217);
    ASSERT_TRUE(server.ok()) << server.error();
    const std::string port = server.Url();

    auto write = RunCli({"write-reg", "0x80000100", "0xFFFFFF5A", "--cpu", "VireoC_TO2", "--port", port});
    EXPECT_EQ(write.status, 0) << write.err;
    auto read = RunCli({"read", "0x80000100", "--cpu", "VireoC_TO2", "--port", port});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.OutLines().back(), "Register/Memory 0x80000100 : 0xffffff5a");

    const std::string image = File("image.bin", 0x23456, 3);
    auto run = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--port", port, "--progress", "none"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.OutLines(), (Lines{"VireoC Sealbench ver 1.3s", "UART is using", "Flashing Completed"}));
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Stderr().find("mismatch"), std::string::npos) << sim.Stderr();
    auto flash = sealtest::ReadFile(dump);
    auto expected = sealtest::ReadFile(image);
    ASSERT_GE(flash.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
}

TEST_F(NetCli, DownloadThroughRawTcpSaysOnceThatTheLineIsTheServers) {
    SimProcess sim("VireoB");
    ASSERT_TRUE(sim.ok()) << sim.error();
    Ser2netProcess server(sim.serial(), Ser2netProcess::Kind::Raw);
    ASSERT_TRUE(server.ok()) << server.error();
    auto run = RunCli({"download", File("image.bin", 5000, 4), "--address", "0xA0100000", "--cpu", "VireoB", "--port",
                       server.Url(), "--mem-init", "none", "--progress", "none"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.OutLines(), (Lines{"VireoB Sealbench ver 1.0", "UART is using",
                                     "Downloading Complete - Program executing at 0xa0100000"}));
    const std::string note = "line settings cannot be set";
    const size_t first = run.err.find(note);
    EXPECT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(note, first + 1), std::string::npos) << run.err;
}

TEST_F(NetCli, NetworkPortsAreBoardsAmongSeveral) {
    // One board behind RFC 2217, one behind raw TCP and one on its pty, flashed in one run.
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < 3; ++i) {
        sims.push_back(std::make_unique<SimProcess>(
            "VireoC_TO2", std::vector<std::string>{"--dump-flash", dir_ + "/flash" + std::to_string(i)}));
        ASSERT_TRUE(sims.back()->ok()) << sims.back()->error();
    }
    Ser2netProcess telnet(sims[0]->serial(), Ser2netProcess::Kind::Rfc2217);
    ASSERT_TRUE(telnet.ok()) << telnet.error();
    Ser2netProcess raw(sims[1]->serial(), Ser2netProcess::Kind::Raw);
    ASSERT_TRUE(raw.ok()) << raw.error();
    const Lines names{telnet.Url(), raw.Url(), sims[2]->serial()};

    const std::string image = File("image.bin", 0x9000, 6);
    auto run = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--port", names[0], "--port", names[1], "--port",
                       names[2], "--progress", "none"},
                      std::chrono::seconds(180));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    Lines lines = run.OutLines();
    ASSERT_GE(lines.size(), 3u) << run.out;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[lines.size() - 3 + i], names[i] + ": OK");
        EXPECT_NE(std::find(lines.begin(), lines.end(), "[" + names[i] + "] Flashing Completed"), lines.end());
    }
    // The raw port's note names its board.
    EXPECT_NE(run.err.find("[" + names[1] + "] "), std::string::npos) << run.err;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sims[i]->Stop(), 0);
        auto flash = sealtest::ReadFile(dir_ + "/flash" + std::to_string(i));
        auto expected = sealtest::ReadFile(image);
        ASSERT_GE(flash.size(), expected.size()) << names[i];
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin())) << names[i];
    }

    // One server named twice is one board named twice, however it is spelt.
    const std::string tcpPort = std::to_string(telnet.port());
    for (const std::string& again : {names[0], "rfc2217://localhost:" + tcpPort, "RFC2217://127.0.0.1:" + tcpPort,
                                     "rfc2217://127.0.0.1:000" + tcpPort, "socket://127.0.0.1:" + tcpPort}) {
        auto twice = RunCli({"flash", image, "--cpu", "VireoC_TO2", "--port", names[0], "--port", again});
        EXPECT_EQ(twice.status, 2) << again << "\n" << twice.err;
        EXPECT_NE(twice.err.find("named twice"), std::string::npos) << twice.err;
    }
}

TEST_F(NetCli, RefusedConnectionIsAClearError) {
    sealtest::RefusingPort nobody;
    const std::string port = "rfc2217://127.0.0.1:" + std::to_string(nobody.port());
    auto run = RunCli({"read", "0x80000000", "--cpu", "VireoC_TO2", "--port", port});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Cannot Open " + port), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Connection refused"), std::string::npos) << run.err;

    auto malformed = RunCli({"read", "0x80000000", "--cpu", "VireoC_TO2", "--port", "rfc2217://127.0.0.1"});
    EXPECT_EQ(malformed.status, 1);
    EXPECT_NE(malformed.err.find("rfc2217://HOST:PORT"), std::string::npos) << malformed.err;
}

// ser2net answers a connection it cannot serve with a line of text and hangs up:
// that line is the error, never an answer word or a board that went away.
TEST_F(NetCli, Ser2netRefusalOverRawTcpIsReportedAsTheServersWords) {
    SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    Ser2netProcess held(sim.serial(), Ser2netProcess::Kind::Raw, "115200n81", 0, false);
    ASSERT_TRUE(held.ok()) << held.error();
    Ser2netProcess missing("/dev/sealbench-no-such-tty", Ser2netProcess::Kind::Raw);
    ASSERT_TRUE(missing.ok()) << missing.error();

    // Another client already holds the first server's port.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(held.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"read", "0x80000000", "--port", held.Url()}, "\"Port already in use\": another client is connected"},
        {{"download", File("image.bin", 4096, 7), "--port", missing.Url(), "--progress", "none"},
         "\"Device open failure"},
    };
    for (Case& c : cases) {
        c.args.insert(c.args.end(), {"--cpu", "VireoC_TO2"});
        auto run = RunCli(c.args);
        // At open the refusal follows "Cannot Open" on stderr; at the first answer it is the status log's error line.
        const std::string said = run.out + run.err;
        EXPECT_EQ(run.status, 1) << said;
        EXPECT_NE(said.find("the server refused the connection with " + c.says), std::string::npos) << said;
        EXPECT_EQ(said.find("went away"), std::string::npos) << said;
        EXPECT_EQ(said.find("Register/Memory"), std::string::npos) << said;
    }
    ::close(holder);
}

TEST_F(NetCli, Ser2netKilledMidDownloadEndsTheRunWithinTheBound) {
    SimProcess sim("VireoC_TO2", {"--pace"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    Ser2netProcess server(sim.serial(), Ser2netProcess::Kind::Rfc2217);
    ASSERT_TRUE(server.ok()) << server.error();
    // About 50 s on the paced line: far from done when the server dies.
    BackgroundCli cli({"download", File("image.bin", 600000, 5), "--cpu", "VireoC_TO2", "--port", server.Url(),
                       "--mem-init", "none", "--progress", "plain"});
    // Progress counts bytes as they leave this host; any step past 0% means bytes are moving.
    ASSERT_TRUE(cli.WaitForStderr("Downloading: [1-9]0%", std::chrono::seconds(60))) << cli.Stderr();
    const auto killed = Clock::now();
    server.Kill(SIGKILL);
    EXPECT_EQ(cli.Wait(std::chrono::seconds(90)), 1) << cli.Stderr();
    EXPECT_LT(Clock::now() - killed, std::chrono::seconds(60));
}

}  // namespace
