// The real vireo-sim process over a real pty and its USB socket.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "host_io.h"

using namespace simtest;

namespace {

const Bytes kAckDone = Cat({Word(0x56787856), Word(0x128A8A12)});

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/vireo-sim-test-" + std::to_string(getpid()) + "-" + name;
}

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

TEST(SimProcess, ServesTheBootRomOnItsPty) {
    SimProcess sim({"--cpu", "VireoC_TO2"});
    ASSERT_TRUE(sim.Ready());
    Fd port{OpenSerial(sim.serial())};
    ASSERT_GE(port.fd, 0);
    EXPECT_EQ(Exchange(port.fd, GetStatus(), 4), Word(0x3C));
    EXPECT_EQ(Exchange(port.fd, WriteReg(0xB8001004, 0x006AC73A), 8), kAckDone);
    EXPECT_EQ(Exchange(port.fd, ReadMem(0xB8001004, 4), 8), Cat({Word(0x56787856), Word(0x006AC73A)}));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimProcess, DownloadOverThePtyLandsInMemory) {
    SimProcess sim({"--cpu", "VireoB", "--sekurel", "0xA5"});
    ASSERT_TRUE(sim.Ready());
    Fd port{OpenSerial(sim.serial())};
    ASSERT_GE(port.fd, 0);
    EXPECT_EQ(Exchange(port.fd, GetStatus(), 4), Word(0xA5));
    // Two pieces at consecutive addresses, the second shorter than a send.
    Bytes image = Pattern(0x20001, 5);
    const uint32_t at = 0xA0010000;
    ASSERT_EQ(Exchange(port.fd, WriteFile(at, 0x10000, 0), 4), Word(0x56787856));
    ASSERT_TRUE(WriteFor(port.fd, image.data(), 0x10000));
    ASSERT_EQ(Exchange(port.fd, WriteFile(at + 0x10000, 0x10001, 0), 4), Word(0x56787856));
    ASSERT_TRUE(WriteFor(port.fd, image.data() + 0x10000, 0x10001));
    Bytes back = Exchange(port.fd, ReadMem(at, uint32_t(image.size())), 4 + image.size());
    ASSERT_EQ(back.size(), 4 + image.size());
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 4), Word(0x56787856));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), back.begin() + 4));
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimProcess, ServesUsbOnItsSocketOneHostAtATime) {
    std::string path = TempPath("usb.sock");
    {
        // A stale socket from an earlier run is replaced.
        int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(stale);
    }
    SimProcess sim({"--cpu", "VireoC_TO1", "--usb-socket", path});
    ASSERT_TRUE(sim.Ready(true));
    EXPECT_EQ(sim.usbSocket(), path);
    Fd first{ConnectUsb(path)};
    ASSERT_GE(first.fd, 0);
    EXPECT_EQ(Exchange(first.fd, WriteReg(0xB8002050, 0xDCF6), 8), kAckDone);
    EXPECT_EQ(Exchange(first.fd, ReadMem(0xB8002050, 4), 8), Cat({Word(0x56787856), Word(0xDCF6)}));

    Fd second{ConnectUsb(path)};
    ASSERT_GE(second.fd, 0);
    EXPECT_EQ(Exchange(second.fd, GetStatus(), 4), Word(0x3C));
    // The first host's connection was closed when the second came.
    EXPECT_TRUE(ReadFor(first.fd, 1).empty());

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(path.c_str(), &st), 0) << "the socket file is removed at exit";
}

TEST(SimProcess, ReportsLineSettingsThatDoNotFitTheProcessor) {
    SimProcess sim({"--cpu", "VireoC_TO1"});
    ASSERT_TRUE(sim.Ready());
    // VireoC_TO1 wants two stop bits; the board reports and keeps working.
    Fd port{OpenSerial(sim.serial(), B115200, false)};
    ASSERT_GE(port.fd, 0);
    EXPECT_EQ(Exchange(port.fd, GetStatus(), 4), Word(0x3C));
    sim.Signal(SIGTERM);
    ASSERT_EQ(sim.Wait(), 0);
    EXPECT_NE(sim.Stderr().find("line settings mismatch"), std::string::npos) << sim.Stderr();
    EXPECT_NE(sim.Stderr().find("2 stop bits"), std::string::npos);
}

TEST(SimProcess, RightLineSettingsDrawNoReport) {
    SimProcess sim({"--cpu", "VireoC_TO1"});
    ASSERT_TRUE(sim.Ready());
    Fd port{OpenSerial(sim.serial(), B115200, true)};
    EXPECT_EQ(Exchange(port.fd, GetStatus(), 4), Word(0x3C));
    sim.Signal(SIGTERM);
    ASSERT_EQ(sim.Wait(), 0);
    EXPECT_EQ(sim.Stderr().find("line settings"), std::string::npos) << sim.Stderr();
}

TEST(SimProcess, ExclusiveModeEndsWithTheHostThatSetIt) {
    SimProcess sim({"--cpu", "VireoC_TO2"});
    ASSERT_TRUE(sim.Ready());
    {
        Fd host{OpenSerial(sim.serial())};
        ASSERT_EQ(ioctl(host.fd, TIOCEXCL), 0);
        EXPECT_EQ(Exchange(host.fd, GetStatus(), 4), Word(0x3C));
    }
    // The board holds the pty open, so the kernel would keep the mode (and lock out
    // every later host that is not root); the board must drop it.
    int exclusive = 1;
    for (int attempt = 0; attempt < 600 && exclusive; ++attempt) {
        Fd probe{OpenSerial(sim.serial())};
        ASSERT_GE(probe.fd, 0);
        ASSERT_EQ(ioctl(probe.fd, TIOCGEXCL, &exclusive), 0);
        if (exclusive) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(exclusive, 0);
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimProcess, AnUndrainedStderrNeverStallsTheBoard) {
    std::string path = TempPath("quiet.sock");
    SimProcess sim({"--cpu", "VireoC_TO2", "--usb-socket", path}, false);
    ASSERT_TRUE(sim.Ready(true));
    // Every replaced connection and every unknown frame is worth a diagnostic line:
    // far more than a pipe holds.
    Bytes junk(16 * 4096, 0x33);
    std::unique_ptr<Fd> previous;
    for (int i = 0; i < 3000; ++i) {
        auto next = std::make_unique<Fd>(ConnectUsb(path));
        ASSERT_GE(next->fd, 0);
        if (i % 100 == 0) {
            ASSERT_TRUE(WriteFor(next->fd, junk));
        }
        // Let the board take the new host while the old one is still connected.
        ASSERT_EQ(Exchange(next->fd, GetStatus(), 4), Word(0x3C)) << "connection " << i;
        previous = std::move(next);
    }
    Fd port{OpenSerial(sim.serial())};
    EXPECT_EQ(Exchange(port.fd, GetStatus(), 4), Word(0x3C));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimProcess, BadUsageExitsWithTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {"--cpu", "VireoC_TO2", "--fault", "reg-word:0"},
        {"--cpu", "VireoC_TO2", "--fault", "silent-after:x"},
        {"--cpu", "VireoC_TO2", "--fault", "no-such-fault:1"},
        {"--cpu", "VireoC_TO2", "--fault", "status-word:1"},
        {"--cpu", "VireoX"},
        {},
        {"--cpu", "VireoB", "--bogus"},
        {"--cpu", "VireoB", "--sekurel", "0x123456789"},
        {"--cpu", "VireoB", "--flashlib", "fast"},
    };
    for (const auto& args : bad) {
        SimProcess sim(args);
        EXPECT_EQ(sim.Wait(), 2) << (args.size() > 3 ? args[3] : args.empty() ? "" : args.back());
        EXPECT_FALSE(sim.Stderr().empty());
    }
}

TEST(SimProcess, HelpDocumentsFaultsAndReset) {
    SimProcess sim({"--help"});
    std::string out = sim.Output();
    EXPECT_EQ(sim.Wait(), 0);
    for (const char* part : {"--cpu", "--usb-socket", "--pace", "--dump-flash", "reg-word:N", "silent-after:N",
                             "status-silent:N", "status-word:N:WORD", "SIGUSR1"})
        EXPECT_NE(out.find(part), std::string::npos) << part;
}

TEST(SimProcess, SilentAfterLeavesTheHostsSendsBlocked) {
    SimProcess sim({"--cpu", "VireoC_TO2", "--fault", "silent-after:16"});
    ASSERT_TRUE(sim.Ready());
    Fd port{OpenSerial(sim.serial())};
    EXPECT_EQ(Exchange(port.fd, GetStatus(), 4), Word(0x3C));
    // The board reads nothing more: the pty fills up and the host's send cannot finish.
    Bytes big(4u << 20);
    EXPECT_FALSE(WriteFor(port.fd, big, 3));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimProcess, RegWordFaultOverUsb) {
    std::string path = TempPath("regword.sock");
    SimProcess sim({"--cpu", "VireoB", "--usb-socket", path, "--fault", "reg-word:2:0", "--fault", "reg-word:4"});
    ASSERT_TRUE(sim.Ready(true));
    Fd usb{ConnectUsb(path)};
    EXPECT_EQ(Exchange(usb.fd, WriteReg(0xD8002000, 0xCC03), 8), kAckDone);
    EXPECT_EQ(Exchange(usb.fd, WriteReg(0xD8002004, 0xA0330D01), 8), Cat({Word(0), Word(0)}));
    EXPECT_EQ(Exchange(usb.fd, WriteReg(0xD8002008, 0x00220800), 8), kAckDone);
    EXPECT_EQ(Exchange(usb.fd, WriteReg(0xD8001010, 4), 8), Cat({Word(0xFFFFFFFF), Word(0xFFFFFFFF)}));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimProcess, ResetSignalTakesTheBoardBackFromABusyApplication) {
    SimProcess sim({"--cpu", "VireoC_TO2"});
    ASSERT_TRUE(sim.Ready());
    Fd port{OpenSerial(sim.serial())};
    // An application of zero words: on an ARM core that is an endless run of no-ops.
    ASSERT_EQ(Exchange(port.fd, WriteFile(0x80100000, 1024, 0xAA), 4), Word(0x56787856));
    ASSERT_TRUE(WriteFor(port.fd, Bytes(1024)));
    ASSERT_EQ(Exchange(port.fd, GetStatus(), 4), Word(0x88888888));
    EXPECT_TRUE(Exchange(port.fd, GetStatus(), 4, 2).empty()) << "a running application ignores the ROM protocol";

    sim.Signal(SIGUSR1);
    Bytes answer;
    for (int attempt = 0; attempt < 30 && answer.empty(); ++attempt) answer = Exchange(port.fd, GetStatus(), 4, 2);
    EXPECT_EQ(answer, Word(0x3C));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_NE(sim.Stderr().find("board reset"), std::string::npos);
}

TEST(SimProcess, DumpFlashIsWrittenOnSigterm) {
    std::string dump = TempPath("flash.bin");
    std::remove(dump.c_str());
    SimProcess sim({"--cpu", "VireoC_TO2", "--dump-flash", dump});
    ASSERT_TRUE(sim.Ready());
    sim.Signal(SIGTERM);
    ASSERT_EQ(sim.Wait(), 0) << sim.Stderr();
    std::ifstream in(dump, std::ios::binary);
    ASSERT_TRUE(in.good());
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
#if defined(VSIM_HAVE_FLASH)
    // A NOR array nobody wrote is erased.
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0xFF), std::ptrdiff_t(bytes.size()));
#endif
    std::remove(dump.c_str());
}

}  // namespace
