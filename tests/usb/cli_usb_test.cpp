// The unmodified sealbench-cli with --usb, reaching the virtual board through
// libusb and the umockdev test bed, as a user without hardware runs it.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "host_process.h"
#include "umockdev_board.h"

namespace {

using sealtest::HostOptions;
using sealtest::RunHost;

class CliOverUsb : public sealtest::UmockdevBoard {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-usbcli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        UmockdevBoard::TearDown();
        std::filesystem::remove_all(dir_);
    }
    sealtest::HostResult Cli(const std::vector<std::string>& args, bool withoutFileOverride = false) {
        HostOptions options;
        options.umockdevDir = umockdevDir();
        options.withoutFileOverride = withoutFileOverride;
        return RunHost(SEALBENCH_CLI_PATH, args, options);
    }
    std::string dir_;
};

TEST_F(CliOverUsb, FlashesNorThroughLibusb) {
    std::string dump = dir_ + "/flash.out";
    StartBoard("VireoC_TO2", {"--dump-flash", dump});
    std::string image = dir_ + "/image.bin";
    {
        std::ofstream out(image, std::ios::binary);
        for (size_t i = 0; i < 0x12345; ++i) out.put(static_cast<char>(3 + i * 13 + (i >> 9)));
    }
    auto run = Cli({"flash", image, "--cpu", "VireoC_TO2", "--usb", "--progress", "none"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Flashing Completed"), std::string::npos) << run.out << run.err;
    // The flash program hands the board back to its ROM, and the device comes back
    // at the next address, where a new host finds it.
    EXPECT_TRUE(sim().WaitForStderr("USB: the device re-enumerated as /dev/bus/usb/001/003")) << sim().Stderr();
    auto status = Cli({"sekurel-status", "--cpu", "VireoC_TO2", "--usb"});
    EXPECT_EQ(status.status, 0) << status.out << status.err;
    EXPECT_EQ(sim().Stop(), 0);
    auto flash = sealtest::ReadFile(dump);
    auto expected = sealtest::ReadFile(image);
    ASSERT_GE(flash.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
}

TEST_F(CliOverUsb, PortsListsTheDeviceByLocationAndItOpensThere) {
    std::string dump = dir_ + "/flash.out";
    StartBoard("VireoC_TO2", {"--dump-flash", dump});
    auto ports = Cli({"ports"});
    ASSERT_EQ(ports.status, 0) << ports.err;
    std::istringstream lines(ports.out);
    std::string line;
    std::string location;
    while (std::getline(lines, line)) {
        if (line.find("--usb-device") != std::string::npos) location = line.substr(0, line.find(' '));
    }
    ASSERT_FALSE(location.empty()) << ports.out;
    // The bus, then the hub ports: what the kernel calls the device's place.
    EXPECT_TRUE(std::regex_match(location, std::regex("[0-9]+-[0-9]+(\\.[0-9]+)*"))) << location;
    EXPECT_NE(ports.out.find("2b4e:7a31"), std::string::npos) << ports.out;

    std::string image = dir_ + "/image.bin";
    {
        std::ofstream out(image, std::ios::binary);
        for (size_t i = 0; i < 0x6000; ++i) out.put(static_cast<char>(5 + i * 7 + (i >> 8)));
    }
    auto run = Cli({"flash", image, "--cpu", "VireoC_TO2", "--usb-device", location, "--progress", "none"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("USB is using"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Flashing Completed"), std::string::npos) << run.out << run.err;
    auto elsewhere = Cli({"flash", image, "--cpu", "VireoC_TO2", "--usb-device", location + ".9"});
    EXPECT_EQ(elsewhere.status, 1);
    EXPECT_NE(elsewhere.err.find("No USB detected!"), std::string::npos) << elsewhere.err;
    EXPECT_EQ(sim().Stop(), 0);
    auto flash = sealtest::ReadFile(dump);
    auto expected = sealtest::ReadFile(image);
    ASSERT_GE(flash.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
}

TEST_F(CliOverUsb, ReadsMemoryAfterAWrite) {
    StartBoard("VireoB");
    auto write = Cli({"write-reg", "A0000040", "5A5AA5A5", "--cpu", "VireoB", "--usb"});
    ASSERT_EQ(write.status, 0) << write.out << write.err;
    auto read = Cli({"read", "A0000040", "--cpu", "VireoB", "--usb"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_NE(read.out.find("Register/Memory 0xa0000040 : 0x5a5aa5a5"), std::string::npos) << read.out;
}

TEST_F(CliOverUsb, ADeviceNodeWithoutPermissionGetsTheUdevHint) {
    StartBoard("VireoC_TO2");
    std::string node = umockdevDir() + "/dev/bus/usb/001/002";
    ASSERT_EQ(::chmod(node.c_str(), 0), 0) << node;
    auto run = Cli({"read", "80000000", "--cpu", "VireoC_TO2", "--usb"}, true);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("No USB detected!"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Access denied"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("60-sealbench.rules"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("dialout"), std::string::npos) << run.err;
}

TEST(VireoSimUsbFaults, AreCheckedBeforeTheBoardStarts) {
    HostOptions options;
    auto malformed =
        RunHost(sealtest::SimExecutable(), {"--cpu", "VireoB", "--usb-umockdev", "--fault", "usb-unplug:x"}, options);
    EXPECT_EQ(malformed.status, 2);
    EXPECT_NE(malformed.err.find("usb-unplug:N"), std::string::npos) << malformed.err;
    auto alone = RunHost(sealtest::SimExecutable(), {"--cpu", "VireoB", "--fault", "usb-driver:cdc_acm"}, options);
    EXPECT_EQ(alone.status, 2);
    EXPECT_NE(alone.err.find("needs --usb-umockdev"), std::string::npos) << alone.err;
}

}  // namespace
