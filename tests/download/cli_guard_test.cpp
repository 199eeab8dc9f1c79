// sealbench-cli's target commands when the port is taken, standard output is lost
// or an option is out of form: a refusal that says why, never a run that reports
// success it did not have.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cli_process.h"
#include "sim_process.h"

namespace {

using sealtest::CliRunOptions;
using sealtest::RunCli;
using sealtest::SimProcess;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CliGuard : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-cliguard-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string dir_;
};

TEST_F(CliGuard, APortAnotherProgramHoldsIsRefusedBeforeAnyByte) {
    SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    // Another program holding the port the way terminal programs do: an advisory lock.
    int holder = ::open(sim.serial().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    auto refused = RunCli({"read", "80000000", "--cpu", "VireoC_TO2", "--port", sim.serial()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Has(refused.err, "Cannot Open " + sim.serial())) << refused.err;
    EXPECT_TRUE(Has(refused.err, "port in use by another program")) << refused.err;
    EXPECT_TRUE(Has(refused.err, "pid " + std::to_string(::getpid()))) << refused.err;
    EXPECT_EQ(refused.OutLines(), std::vector<std::string>{"VireoC Sealbench ver 1.3s"});

    ::close(holder);
    auto free = RunCli({"read", "80000000", "--cpu", "VireoC_TO2", "--port", sim.serial()});
    EXPECT_EQ(free.status, 0) << free.err;
}

TEST_F(CliGuard, LostStandardOutputIsAFailure) {
    SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    CliRunOptions full;
    full.stdoutPath = "/dev/full";
    auto run = RunCli({"read", "80000000", "--cpu", "VireoC_TO2", "--port", sim.serial()}, full);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run.err, "could not be written to standard output")) << run.err;
}

TEST_F(CliGuard, WidthIsDecimalAndSaysWhatItWants) {
    for (std::string width : {"0x20", "99999999999999999999", "020", "24"}) {
        auto run = RunCli({"write-reg", "1", "2", "--width", width, "--cpu", "VireoB", "--port", "/dev/null"});
        EXPECT_EQ(run.status, 2) << width;
        EXPECT_TRUE(Has(run.err, "8, 16 or 32")) << width << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    SimProcess sim("VireoB");
    ASSERT_TRUE(sim.ok()) << sim.error();
    auto run = RunCli({"write-reg", "A0000000", "1234", "--width", "16", "--cpu", "VireoB", "--port", sim.serial()});
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(CliGuard, MemInitScriptsThatCannotBeReadSayWhy) {
    const std::vector<std::string> command = {"mem-init", "--cpu", "VireoB", "--port", "/dev/null", "--mem-init"};
    auto with = [&](const std::string& script) {
        std::vector<std::string> args = command;
        args.push_back(script);
        return args;
    };
    auto zero = RunCli(with("/dev/zero"), std::chrono::seconds(30));
    EXPECT_EQ(zero.status, 2);
    EXPECT_TRUE(Has(zero.err, "/dev/zero is not a regular file (it is a character device)")) << zero.err;

    ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
    auto fifo = RunCli(with(dir_ + "/fifo"), std::chrono::seconds(30));
    EXPECT_EQ(fifo.status, 2);
    EXPECT_TRUE(Has(fifo.err, "(it is a FIFO)")) << fifo.err;

    // Unreadable: a user other than root is needed, as root reads every file.
    const std::string script = dir_ + "/init.txt";
    std::ofstream(script) << "0xD8002000 0x0000CC03 32\n";
    ASSERT_EQ(::chmod(script.c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    CliRunOptions options;
    options.limit = std::chrono::seconds(30);
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0) {
            GTEST_SKIP() << "running as root without setpriv: no user to whom the script is unreadable";
        }
        options.wrapper = sealtest::AsNobody();
        if (options.wrapper.empty()) {
            GTEST_SKIP() << "the build tree is out of reach of other users: no user to whom the script is unreadable";
        }
    }
    auto unreadable = RunCli(with(script), options);
    EXPECT_EQ(unreadable.status, 2);
    EXPECT_TRUE(Has(unreadable.err, "cannot read the memory-init script " + script + ": Permission denied"))
        << unreadable.err;
    EXPECT_TRUE(unreadable.out.empty()) << unreadable.out;
}

}  // namespace
