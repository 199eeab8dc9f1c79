// The library against the real vireo-sim process, over its pty and its USB
// socket: what the board holds afterwards is the judge.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <future>
#include <random>
#include <thread>

#include "flashlib/images.h"
#include "process_links.h"
#include "sim_process.h"

namespace bootwire {
namespace {

using sealtest::SimProcess;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kRamBase = 0x80000000;

std::unique_ptr<Transport> Connect(const SimProcess& sim, bool usb, int lineMode = 1) {
    Error error;
    std::string detail;
    if (usb) {
        ::setenv("BOOTWIRE_USB_SIM", sim.usbSocket().c_str(), 1);
        auto t = OpenUsb(&error, &detail);
        ::unsetenv("BOOTWIRE_USB_SIM");
        return t;
    }
    auto t = OpenSerial(sim.serial(), lineMode, &error, &detail);
    EXPECT_EQ(error, Error::Ok) << detail;
    return t;
}

std::vector<uint8_t> Random(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out) {
        b = static_cast<uint8_t>(rng());
    }
    return out;
}

std::string LinkName(const ::testing::TestParamInfo<bool>& param) { return param.param ? "Usb" : "Serial"; }

class SimLinkTest : public ::testing::TestWithParam<bool> {
protected:
    bool usb() const { return GetParam(); }
};

TEST_P(SimLinkTest, RegistersStatusAndReads) {
    SimProcess sim("VireoC_TO2", {}, usb());
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(Connect(sim, usb()));
    ASSERT_TRUE(link.IsOpen());

    ASSERT_EQ(link.WriteRegister(kRamBase + 0x100, 0xCAFEF00D, 32, 0), Error::Ok) << link.ErrorDetail();
    ASSERT_EQ(link.WriteRegister(kRamBase + 0x101, 0x5A, 8, 2), Error::Ok) << link.ErrorDetail();
    uint8_t bytes[4] = {};
    ASSERT_EQ(link.ReadData(kRamBase + 0x100, bytes, 4, 32), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(bytes[0], 0x0D);
    EXPECT_EQ(bytes[1], 0x5A);
    EXPECT_EQ(bytes[3], 0xCA);

    uint32_t word = 0;
    ASSERT_EQ(link.GetStatus(&word), Error::Ok);
    EXPECT_EQ(word & 0xFF, 0x3Cu);
    // Nothing was loaded, so the board has not completed anything.
    EXPECT_EQ(link.CompleteEndResponse(), Error::UnexpectedWord);
}

TEST_P(SimLinkTest, DownloadsLandInTheBoardsMemory) {
    SimProcess sim("VireoC_TO2", {}, usb());
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(Connect(sim, usb()));
    ASSERT_TRUE(link.IsOpen());
    unsigned seed = 1;
    for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{65537}, size_t{0x1F0000}, size_t{0x1F0001}}) {
        auto image = Random(std::max<size_t>(size, 1024), seed++);
        uint32_t address = kRamBase + 0x10000;
        ASSERT_EQ(link.ImageDownload(address, image.data(), size, image.size()), Error::Ok)
            << size << ": " << link.ErrorDetail();
        std::vector<uint8_t> back(std::max<size_t>(size, 1024));
        ASSERT_EQ(link.ReadData(address, back.data(), back.size(), 32), Error::Ok) << link.ErrorDetail();
        // The image, with its first 1024 bytes written a second time by the application header.
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + static_cast<long>(size), back.begin()))
            << "size " << size;
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + 1024, back.begin())) << "size " << size;
    }
    // A finished load is confirmed once.
    EXPECT_EQ(link.CompleteEndResponse(), Error::Ok) << link.ErrorDetail();
}

TEST_P(SimLinkTest, HwcAndCsfWindows) {
    SimProcess sim("VireoB", {}, usb());
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(Connect(sim, usb()));
    auto hwc = Random(0x1F0, 7);
    auto csf = Random(0x2E00, 8);
    ASSERT_EQ(link.FileDownload(FileType::Hwc, 0xA0001010, hwc.data(), hwc.size()), Error::Ok);
    ASSERT_EQ(link.FileDownload(FileType::Csf, 0xA0001200, csf.data(), csf.size()), Error::Ok);
    std::vector<uint8_t> back(0x1F0 + 0x10 + 0x2E00);
    ASSERT_EQ(link.ReadData(0xA0001010, back.data(), back.size(), 32), Error::Ok);
    EXPECT_TRUE(std::equal(hwc.begin(), hwc.end(), back.begin()));
    EXPECT_TRUE(std::equal(csf.begin(), csf.end(), back.begin() + 0x1F0));
}

INSTANTIATE_TEST_SUITE_P(Links, SimLinkTest, ::testing::Values(false, true), LinkName);

TEST(SimLinkLines, OddParityBoardOnTheRightLineMode) {
    SimProcess sim("VireoC_TO1");
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(Connect(sim, false, 0));
    ASSERT_EQ(link.WriteRegister(0xB8001004, 0x006AC73A, 32, 0), Error::Ok);
    EXPECT_EQ(sim.Stop(), 0);  // everything the board had to say is out
    EXPECT_EQ(sim.Stderr().find("stop"), std::string::npos) << sim.Stderr();
}

TEST(SimLinkLines, TheBoardNoticesTheWrongLineMode) {
    SimProcess sim("VireoC_TO1");
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(Connect(sim, false, 1));
    link.WriteRegister(0xB8001004, 0x006AC73A, 32, 0);
    EXPECT_TRUE(sim.WaitForStderr("stop")) << sim.Stderr();
}

// Every fault the board can play ends the call with an error, never a hang.
class SimFaultTest : public ::testing::TestWithParam<bool> {
protected:
    void ExpectBounded(Clock::time_point start) { EXPECT_LT(Clock::now() - start, std::chrono::seconds(60)); }
};

TEST_P(SimFaultTest, WrongRegisterWord) {
    SimProcess sim("VireoC_TO2", {"--fault", "reg-word:2"}, GetParam());
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(Connect(sim, GetParam()));
    link.SetReceiveTimeoutLimit(5000);
    EXPECT_EQ(link.WriteRegister(0xB8001004, 1, 32, 0), Error::Ok);
    EXPECT_EQ(link.WriteRegister(0xB8001004, 2, 32, 0), Error::UnexpectedWord);
    EXPECT_EQ(link.WriteRegister(0xB8001004, 3, 32, 0), Error::Ok);
}

TEST_P(SimFaultTest, BoardGoesSilentMidDownload) {
    SimProcess sim("VireoC_TO2", {"--fault", "silent-after:100000"}, GetParam());
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(Connect(sim, GetParam()));
    link.SetReceiveTimeoutLimit(5000);
    auto image = Random(4 << 20, 3);
    auto start = Clock::now();
    EXPECT_NE(link.ImageDownload(kRamBase + 0x10000, image.data(), image.size()), Error::Ok);
    ExpectBounded(start);
    start = Clock::now();
    uint32_t word;
    EXPECT_NE(link.GetStatus(&word), Error::Ok);
    ExpectBounded(start);
}

// A board whose process is gone (unplugged, power cut) is told apart from a silent
// one: the link says Gone with the system's reason, not that it timed out.
TEST_P(SimFaultTest, BoardThatIsGoneIsNotATimeOut) {
    SimProcess sim("VireoC_TO2", {}, GetParam());
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(Connect(sim, GetParam()));
    uint32_t word = 0;
    ASSERT_EQ(link.GetStatus(&word), Error::Ok) << link.ErrorDetail();
    sim.Signal(SIGKILL);
    ASSERT_EQ(sim.Wait(30), 128 + SIGKILL);
    Error error = link.GetStatus(&word);
    EXPECT_EQ(error, Error::Gone) << ErrorName(error) << ": " << link.ErrorDetail();
}

// Starts the built-in NOR library with a small image; the board runs it natively.
void StartFlashing(Link& link, int channel) {
    auto library = flashlib::BuiltinFlashLibrary(flashlib::BuiltinLibrary::NorVireoC);
    std::vector<uint8_t> buffer(0x10000 + 4096, 0);
    std::copy(library.begin(), library.end(), buffer.begin());
    auto put = [&](size_t offset, uint32_t v) { std::memcpy(&buffer[offset], &v, 4); };
    put(0xFFE0, 0xA0000000);
    put(0xFFE4, 0);
    put(0xFFF0, kRamBase + 0x10000);
    put(0xFFF4, 0xA0000000);
    put(0xFFF8, 4096);
    put(0xFFFC, static_cast<uint32_t>(channel));
    ASSERT_EQ(link.ImageDownload(kRamBase + 0x4000, buffer.data() + 0x4000, buffer.size() - 0x4000), Error::Ok);
    ASSERT_EQ(link.CompleteEndResponse(), Error::Ok) << link.ErrorDetail();
}

TEST_P(SimFaultTest, StatusQueryFaults) {
    SimProcess sim("VireoC_TO2",
                   {"--flashlib", "model", "--fault", "status-word:1:00B20000", "--fault", "status-silent:2"},
                   GetParam());
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(Connect(sim, GetParam()));
    link.SetReceiveTimeoutLimit(5000);
    StartFlashing(link, GetParam() ? 1 : 0);
    uint32_t word = 0;
    ASSERT_EQ(link.FlashingStatus(&word), Error::Ok);
    EXPECT_EQ(word, 0x00B20000u);
    auto start = Clock::now();
    EXPECT_NE(link.FlashingStatus(&word), Error::Ok);
    ExpectBounded(start);
}

INSTANTIATE_TEST_SUITE_P(Links, SimFaultTest, ::testing::Values(false, true), LinkName);

TEST(SimLinkUsb, NoBoardNoDevice) {
    ::setenv("BOOTWIRE_USB_SIM", "/tmp/no-such-board.sock", 1);
    BootwireClass bw;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(bw.Vireo_USBEnum(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "No deviced found\n");
    ::unsetenv("BOOTWIRE_USB_SIM");
}

TEST(SimLinkUsb, FacadeOverTheSocket) {
    SimProcess sim("VireoB", {}, true);
    ASSERT_TRUE(sim.ok()) << sim.error();
    ::setenv("BOOTWIRE_USB_SIM", sim.usbSocket().c_str(), 1);
    BootwireClass bw;
    ASSERT_EQ(bw.Vireo_USBEnum(), 1);
    // A second enumeration releases the first connection and takes a new one.
    ASSERT_EQ(bw.Vireo_USBEnum(), 1);
    EXPECT_EQ(bw.Vireo_WriteRegister(0x101, 0xD8001004, 0x006AC73A, 32, 1), 1);
    long word = 0;
    EXPECT_EQ(bw.Vireo_ReadData(1, 0xA0000000, &word, 4, 32, 1), 1);
    EXPECT_EQ(bw.Vireo_SekurelStatus(1, 1) & 0xFF, 0x3C);
    CloseProcessLinks();  // the device is let go while the board still serves it
    ::unsetenv("BOOTWIRE_USB_SIM");
}

// What a process has read so far (Linux: /proc/PID/io), to see a board take bytes.
uint64_t BytesRead(pid_t pid) {
    std::FILE* io = std::fopen(("/proc/" + std::to_string(pid) + "/io").c_str(), "r");
    if (!io) return 0;
    unsigned long long chars = 0;
    char name[32];
    while (std::fscanf(io, "%31s %llu", name, &chars) == 2 && std::strcmp(name, "rchar:") != 0) {
    }
    std::fclose(io);
    return chars;
}

TEST(SimLinkFacade, APortChosenDuringADownloadServesTheNextCall) {
    // Board A on a real-time line, so that the download is still running when the
    // user picks board B.
    SimProcess a("VireoC_TO2", {"--pace"});
    SimProcess b("VireoC_TO2");
    ASSERT_TRUE(a.ok()) << a.error();
    ASSERT_TRUE(b.ok()) << b.error();
    BootwireClass bw;
    std::string portA = a.serial(), portB = b.serial();
    ASSERT_EQ(bw.Vireo_InitComPort(portA.data(), 1), 1);
    const std::vector<uint8_t> image = Random(128 * 1024, 31);
    std::vector<long> buffer(image.size() / sizeof(long));
    std::memcpy(buffer.data(), image.data(), image.size());
    const uint32_t address = kRamBase + 0x10000;
    const uint64_t before = BytesRead(a.Pid());
    auto download = std::async(std::launch::async, [&] {
        return bw.Vireo_ImageDownload(0, address, static_cast<int>(image.size()), buffer.data(), 1);
    });
    // Board B is chosen once board A has taken some of the image.
    const auto until = Clock::now() + std::chrono::seconds(30);
    while (BytesRead(a.Pid()) < before + 8192 && Clock::now() < until) std::this_thread::yield();
    ASSERT_LT(Clock::now(), until) << "board A took nothing";
    ASSERT_EQ(bw.Vireo_InitComPort(portB.data(), 1), 1);
    ASSERT_EQ(download.wait_for(std::chrono::seconds(120)), std::future_status::ready);
    EXPECT_EQ(download.get(), 1);

    // The next call goes to board B, which never saw the image.
    std::vector<long> back(image.size() / sizeof(long));
    ASSERT_EQ(bw.Vireo_ReadData(0, address, back.data(), 4096, 32, 1), 1);
    EXPECT_NE(std::memcmp(back.data(), image.data(), 4096), 0) << "board B received the image";
    // Board A holds all of it.
    EXPECT_EQ(bw.Vireo_InitComPort(portA.data(), 1), 1);
    ASSERT_EQ(bw.Vireo_ReadData(0, address, back.data(), static_cast<int>(image.size()), 32, 1), 1);
    EXPECT_EQ(std::memcmp(back.data(), image.data(), image.size()), 0) << "board A lacks part of the image";
    CloseProcessLinks();
}

TEST(SimLinkDiagnostics, GoToTheHandlerOfTheThreadThenOfTheProcess) {
    ::setenv("BOOTWIRE_USB_SIM", "/tmp/no-such-board.sock", 1);
    std::vector<std::string> process, thread;
    SetDiagnosticHandler([&](std::string_view line) { process.emplace_back(line); });
    Error error;
    std::string detail;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(OpenUsb(&error, &detail), nullptr);
    {
        DiagnosticScope scope([&](std::string_view line) { thread.emplace_back(line); });
        EXPECT_EQ(OpenUsb(&error, &detail), nullptr);
        // Another thread's diagnostics are not this scope's.
        std::thread([&] { OpenUsb(&error, &detail); }).join();
    }
    SetDiagnosticHandler({});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "nothing printed while a handler is set";
    EXPECT_EQ(process, (std::vector<std::string>{"No deviced found", "No deviced found"}));
    EXPECT_EQ(thread, (std::vector<std::string>{"No deviced found"}));
    ::unsetenv("BOOTWIRE_USB_SIM");
}

}  // namespace
}  // namespace bootwire
