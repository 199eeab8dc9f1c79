// sealbench-cli's file commands given what a careless or hostile command line
// gives them: outputs that are devices, links or their own inputs, inputs that are
// FIFOs or devices, texts that would add lines to a CSF file, a full disk on
// standard output, and a kill in the middle of a write.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "file_test_support.h"

extern char** environ;

namespace {

using sealbench::test::Exists;
using sealbench::test::ProcessOptions;
using sealbench::test::ProcessResult;
using sealbench::test::ReadBytes;
using sealbench::test::ReadText;
using sealbench::test::TempDir;
using sealbench::test::WriteBytes;
using sealbench::test::WriteText;

ProcessResult Cli(std::vector<std::string> args, const ProcessOptions& options = {}) {
    args.insert(args.begin(), SEALBENCH_CLI);
    return sealbench::test::RunProcess(args, options);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(CliOutputs, DevicesLinksAndModes) {
    TempDir dir;
    if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        auto r = Cli({"hwc", dir / "null", "1:2"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        struct stat info {};
        ASSERT_EQ(::lstat((dir / "null").c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device node was replaced";
    }

    WriteText(dir / "real.hwc", "old");
    ASSERT_EQ(::chmod((dir / "real.hwc").c_str(), 0600), 0);
    std::filesystem::create_symlink("real.hwc", dir / "link.hwc");
    auto r = Cli({"hwc", dir / "link.hwc", "1:2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.hwc"));
    EXPECT_EQ(ReadBytes(dir / "real.hwc").size(), 12u);
    struct stat info {};
    ASSERT_EQ(::stat((dir / "real.hwc").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << "the replaced file's mode was widened";

    std::filesystem::create_directory(dir / "folder");
    r = Cli({"srec", dir / "real.hwc", dir / "folder"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "it is a folder")) << r.err;

    // A name at the file system's limit leaves no room for a temporary's suffix.
    const std::string longest = dir / std::string(250, 'h');
    r = Cli({"hwc", longest, "1:2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadBytes(longest).size(), 12u);
}

TEST(CliOutputs, AnOutputThatIsAnInputIsRefused) {
    TempDir dir;
    const auto input = sealbench::test::RandomBytes(100, 7);
    WriteBytes(dir / "in.bin", input);
    std::filesystem::create_hard_link(dir / "in.bin", dir / "alias.bin");
    for (const std::string& out : {dir / "in.bin", dir / "alias.bin"}) {
        auto r = Cli({"srec", dir / "in.bin", out});
        EXPECT_EQ(r.exitCode, 1) << out;
        EXPECT_TRUE(Has(r.err, "is the input file")) << r.err;
    }
    EXPECT_EQ(ReadBytes(dir / "in.bin"), input);

    WriteBytes(dir / "csf.bin", std::vector<uint8_t>(0x800, 0x22));
    WriteBytes(dir / "hwc.bin", std::vector<uint8_t>(0x100, 0x11));
    auto r =
        Cli({"combine", dir / "hwc.bin", "--os", dir / "in.bin", "--csf", dir / "csf.bin", "--hwc", dir / "hwc.bin"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "is the input file")) << r.err;
    EXPECT_EQ(ReadBytes(dir / "hwc.bin"), std::vector<uint8_t>(0x100, 0x11));

    // The signing tool must not even be started on its own input.
    WriteText(dir / "sekurel_build", "#!/bin/sh\ntouch \"$MARK\"\n");
    ASSERT_EQ(::chmod((dir / "sekurel_build").c_str(), 0755), 0);
    WriteText(dir / "a.csf", "VERSION 3\r\n");
    ProcessOptions options;
    options.env = {"PATH=" + dir.Path() + ":" + std::getenv("PATH"), "MARK=" + (dir / "ran")};
    r = Cli({"sign", dir / "a.csf", dir / "a.csf"}, options);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "is the input file")) << r.err;
    EXPECT_FALSE(Exists(dir / "ran"));
}

TEST(CliOutputs, AFailedRunLeavesTheOldFile) {
    TempDir dir;
    WriteBytes(dir / "in.bin", {1, 2, 3});
    WriteText(dir / "e1.s19", "precious");
    auto r = Cli({"srec", dir / "in.bin", dir / "e1.s19", "--begin", "0x10000"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "Begin address 10000h is greater than file size 2h")) << r.err;
    EXPECT_EQ(ReadText(dir / "e1.s19"), "precious");
    EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST(CliInputs, FifosAndDevicesAreRefusedAtOnce) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ProcessOptions bounded;
    bounded.limitSeconds = 30;  // a tool that waits in open() for a writer is killed here
    auto r = Cli({"srec", dir / "fifo", dir / "out.s19"}, bounded);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "is not a regular file (it is a FIFO)")) << r.err;

    r = Cli({"srec", "/dev/zero", dir / "out.s19"}, bounded);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "is not a regular file (it is a character device)")) << r.err;

    WriteBytes(dir / "csf.bin", std::vector<uint8_t>(0x800, 0x22));
    WriteBytes(dir / "hwc.bin", std::vector<uint8_t>(0x100, 0x11));
    r = Cli({"combine", dir / "out.bin", "--os", dir / "fifo", "--csf", dir / "csf.bin", "--hwc", dir / "hwc.bin"},
            bounded);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "it is a FIFO")) << r.err;
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"csf.bin", "fifo", "hwc.bin"}));
}

TEST(CliCsfFields, ControlCharactersAndMalformedBlocksWriteNothing) {
    TempDir dir;
    auto run = [&](std::vector<std::string> fields) {
        std::vector<std::string> args = {"csf", dir / "out.csf", "--csf-key", "c.crt", "--key", "k1"};
        args.insert(args.end(), fields.begin(), fields.end());
        return Cli(args);
    };
    const std::string root = "--super-root";
    struct Case {
        std::vector<std::string> fields;
        int exit;
        const char* says;
    } cases[] = {
        {{"--code", "1\nINJECTED_LINE X", root, "s.der", "--block", "img,0x0,0x400,k1"},
         1,
         "The Code holds a control character"},
        {{"--code", "1", "--uid", "U\r\nEVIL", root, "s.der", "--block", "img,0x0,0x400,k1"},
         1,
         "The UID holds a control character"},
        {{"--code", "1", root, "E:\\keys\\s\nEVIL.der", "--block", "img,0x0,0x400,k1"},
         1,
         "The Super Root holds a control character"},
        {{"--code", "1", root, "s.der", "--key", "k\nEVIL", "--block", "img,0x0,0x400,k1"},
         1,
         "Key 3 holds a control character"},
        {{"--code", "1", root, "s.der", "--block", "a\tb,0x0,0x4,k1"}, 1, "Block 1 holds a control character"},
        {{"--code", "1", root, "s.der", "--block", ",,,k1"}, 2, "the file name is empty"},
        {{"--code", "1", root, "s.der", "--block", "img,zz,-1,k1"}, 2, "the starting address must be hexadecimal"},
        {{"--code", "1", root, "s.der", "--block", "img,0x10,-1,k1"}, 2, "the bytes to sign must be hexadecimal"},
        {{"--code", "1", root, "s.der", "--block", "img,0x,4,k1"}, 2, "the starting address must be hexadecimal"},
    };
    for (const Case& c : cases) {
        auto r = run(c.fields);
        EXPECT_EQ(r.exitCode, c.exit) << c.says;
        EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    }
    EXPECT_TRUE(dir.Entries().empty());

    auto r = run({"--code", "0x1", root, "s.der", "--block", "img,1000,0X400,k1", "--block", "img,0x0,1,"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(sealbench::test::CrLfLines(ReadText(dir / "out.csf")).size(), 32u);
}

TEST(CliStdout, ALostWriteIsAFailure) {
    TempDir dir;
    ProcessOptions full;
    full.stdoutPath = "/dev/full";
    auto r = Cli({"hwc", dir / "a.hwc", "1:2"}, full);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "could not be written to standard output")) << r.err;

    r = Cli({"srec", "--help"}, full);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "standard output")) << r.err;

    // Failures keep their own status and message; there is nothing on stdout to lose.
    r = Cli({"srec", dir / "none.bin", dir / "b.s19"}, full);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(Has(r.err, "standard output")) << r.err;
}

// The entry in `dir` that process `pid` holds open for writing, other than `input`.
bool HoldsOutputOpen(pid_t pid, const std::string& dir, const std::string& input) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.rfind(dir + "/", 0) == 0 && target != input) {
            return true;
        }
    }
    return false;
}

TEST(CliKilled, AKillMidWriteLeavesNothingBehind) {
    TempDir dir;
    // Sparse, so that it costs nothing to make, yet its records take a while to write.
    const std::string input = dir / "in.bin";
    int fd = ::open(input.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 256 << 20), 0);
    ::close(fd);

    int caught = 0;
    for (int attempt = 0; attempt < 5 && caught < 2; ++attempt) {
        std::string out = dir / "out.s19";
        std::vector<std::string> args = {SEALBENCH_CLI, "srec", input, out};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        ASSERT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool seen = false;
        int status = 0;
        while (!seen && ::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
            seen = HoldsOutputOpen(pid, dir.Path(), input);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        if (seen) {
            ++caught;
            // The finished file may just have been put in place; nothing else may be there.
            for (const std::string& name : dir.Entries()) {
                EXPECT_TRUE(name == "in.bin" || name == "out.s19") << name << " left behind, attempt " << attempt;
            }
        }
        std::filesystem::remove(out);
    }
    if (caught == 0) {
        GTEST_SKIP() << "the conversion never was caught in the middle of its write";
    }
}

}  // namespace
