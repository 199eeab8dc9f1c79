// sealbench-cli flash --fast as a script runs it, against the real vireo-sim
// process: what it refuses before the board is touched, the lines of a run that
// verified its image, and a run whose flash does not keep what was written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cli_process.h"
#include "sim_process.h"
#include "test_images.h"

namespace {

using sealtest::RunCli;
using sealtest::SimProcess;
using Lines = std::vector<std::string>;

class FastCli : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-fastcli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static bool FlashHolds(const std::vector<uint8_t>& flash, size_t offset, const std::vector<uint8_t>& image) {
        return flash.size() >= offset + image.size() &&
               std::equal(image.begin(), image.end(), flash.begin() + static_cast<std::ptrdiff_t>(offset));
    }

    std::string dir_;
};

TEST_F(FastCli, RefusesWhatItCannotDoBeforeTouchingTheBoard) {
    std::string image = Write("image.bin", sealtest::NoiseImage(100));
    std::string library = Write("lib.bin", sealtest::NoiseImage(100, 2));
    struct Case {
        Lines args;
        std::string says;
    };
    const Case cases[] = {
        {{"flash", image, "--fast", "--flash-type", "user", "--flash-lib", library}, "built-in flash library"},
        {{"flash", image, "--fast", "--usb"}, "serial port"},
        {{"flash", image, "--fast", "--secure"}, "without --fast"},
        {{"download", image, "--fast"}, "--fast is for flash"},
        {{"flash", image, "--baud", "460800"}, "use it with --fast"},
        {{"flash", image, "--fast", "--baud", "1000000"}, "cannot run at 1000000 baud"},
        {{"flash", image, "--fast", "--baud", "57600"}, "115200 baud or faster"},
        {{"flash", image, "--fast", "--baud", "fast"}, "--baud"},
    };
    for (const Case& c : cases) {
        Lines args = c.args;
        // A port that is no board: a refusal that came too late would fail to open it.
        args.insert(args.end(), {"--cpu", "VireoC_TO2"});
        if (std::find(args.begin(), args.end(), "--usb") == args.end()) {
            args.insert(args.end(), {"--port", dir_ + "/ttyNothing"});
        }
        auto run = RunCli(args);
        EXPECT_EQ(run.status, 2) << args[0] << " " << args[2] << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
}

TEST_F(FastCli, FlashesVerifiesAndReportsLikeANormalRun) {
    std::string dump = dir_ + "/flash.out";
    SimProcess sim("VireoC_TO2", {"--dump-flash", dump});
    ASSERT_TRUE(sim.ok()) << sim.error();
    // More than one block, so that the run streams and writes behind the line.
    const std::vector<uint8_t> bytes = sealtest::NoiseImage(40000, 7);
    std::string image = Write("image.bin", bytes);
    auto run = RunCli({"flash", image, "--fast", "--cpu", "VireoC_TO2", "--port", sim.serial(), "--progress", "plain"});
    EXPECT_EQ(run.status, 0) << run.err;
    Lines lines = run.OutLines();
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[0], "VireoC Sealbench ver 1.3s");
    EXPECT_EQ(lines[1], "UART is using");
    EXPECT_EQ(lines[2].rfind("Image verified: ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("(40000 bytes)"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3], "Flashing Completed");
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(FlashHolds(sealtest::ReadFile(dump), 0, bytes));
}

TEST_F(FastCli, NandAtALowerRate) {
    std::string dump = dir_ + "/nand.out";
    SimProcess sim("VireoC_TO2", {"--dump-flash", dump});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::vector<uint8_t> bytes = sealtest::NoiseImage(20000, 8);
    std::string image = Write("image.bin", bytes);
    auto run = RunCli({"flash", image, "--fast", "--baud", "460800", "--flash-type", "nand", "--address", "4000",
                       "--cpu", "VireoC_TO2", "--port", sim.serial(), "--progress", "none"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.OutLines().back(), "Flashing Completed") << run.out;
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(FlashHolds(sealtest::ReadFile(dump), 0x4000, bytes));
}

TEST_F(FastCli, FlashThatDoesNotKeepTheImageExitsOne) {
    SimProcess sim("VireoC_TO2", {"--fault", "bit-flip:A0008000:3"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string image = Write("image.bin", sealtest::NoiseImage(3 * 16384, 11));
    auto run = RunCli({"flash", image, "--fast", "--cpu", "VireoC_TO2", "--port", sim.serial(), "--progress", "none"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines().back(), "Error!!- Reason: Flashing Verifying Error") << run.out;
    EXPECT_NE(run.err.find("the flash holds CRC-32"), std::string::npos) << run.err;
}

TEST_F(FastCli, AnOddNorAddressIsNamedAsWhatTheLibraryRefused) {
    SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string image = Write("image.bin", sealtest::NoiseImage(0x4000, 12));
    for (const char* mode : {"status polling", "--fast"}) {
        std::vector<std::string> args{"flash",      image,    "--address",  "A0000001",   "--cpu",
                                      "VireoC_TO2", "--port", sim.serial(), "--progress", "none"};
        if (std::string(mode) == "--fast") args.push_back(mode);
        auto run = RunCli(args);
        EXPECT_EQ(run.status, 1) << mode;
        const Lines lines = run.OutLines();
        ASSERT_GE(lines.size(), 2u) << run.out;
        EXPECT_EQ(lines.end()[-2], "Error!!- Reason: Flashing Erase Error") << mode;
        EXPECT_EQ(lines.back(),
                  "the flash address 0xA0000001 is odd: the built-in library writes the NOR flash in 16-bit words, "
                  "from an even address")
            << mode;
    }
}

}  // namespace
