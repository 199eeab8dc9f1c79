// The virtual board's USB device over loopback TCP (vireo-sim --usb-tcp, reached
// with BOOTWIRE_USB_SIM=tcp:HOST:PORT), the form Windows builds use under Wine.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>

#include "sim_process.h"

namespace bootwire {
namespace {

using sealtest::SimProcess;

struct UsbSimVariable {
    explicit UsbSimVariable(const std::string& value) { ::setenv("BOOTWIRE_USB_SIM", value.c_str(), 1); }
    ~UsbSimVariable() { ::unsetenv("BOOTWIRE_USB_SIM"); }
};

std::string Enumerate(Error* error, std::string* detail, std::unique_ptr<Transport>* transport) {
    ::testing::internal::CaptureStdout();
    *transport = OpenUsb(error, detail);
    return ::testing::internal::GetCapturedStdout();
}

// A port on which nothing listens: bound and closed again.
int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    return ntohs(addr.sin_port);
}

TEST(SimTcp, DownloadAndReadBackOverLoopback) {
    SimProcess sim("VireoC_TO2", {"--usb-tcp", "0"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_EQ(sim.usbSocket().rfind("tcp:127.0.0.1:", 0), 0u) << sim.usbSocket();
    UsbSimVariable variable(sim.usbSocket());
    Error error;
    std::string detail;
    std::unique_ptr<Transport> transport;
    EXPECT_EQ(Enumerate(&error, &detail, &transport), "");
    ASSERT_NE(transport, nullptr) << detail;
    Link link(std::move(transport));

    std::vector<uint8_t> image(0x1F0001);
    std::mt19937 rng(5);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    ASSERT_EQ(link.ImageDownload(0x80010000, image.data(), image.size()), Error::Ok) << link.ErrorDetail();
    std::vector<uint8_t> back(image.size());
    ASSERT_EQ(link.ReadData(0x80010000, back.data(), back.size(), 32), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(back, image);
    EXPECT_EQ(link.CompleteEndResponse(), Error::Ok) << link.ErrorDetail();
}

TEST(SimTcp, NothingListeningIsNoDevice) {
    UsbSimVariable variable("tcp:127.0.0.1:" + std::to_string(FreePort()));
    Error error;
    std::string detail;
    std::unique_ptr<Transport> transport;
    EXPECT_EQ(Enumerate(&error, &detail, &transport), "No deviced found\n");
    EXPECT_EQ(transport, nullptr);
}

TEST(SimTcp, MalformedAddressIsToldAsSuch) {
    for (const char* text : {"tcp:127.0.0.1", "tcp:127.0.0.1:0", "tcp:127.0.0.1:99999", "tcp::80", "tcp:host:8x"}) {
        UsbSimVariable variable(text);
        Error error;
        std::string detail;
        std::unique_ptr<Transport> transport;
        EXPECT_EQ(Enumerate(&error, &detail, &transport), "Cannot open WinDriver device\n") << text;
        EXPECT_EQ(error, Error::Driver) << text;
        EXPECT_NE(detail.find("BOOTWIRE_USB_SIM: \"" + std::string(text) + "\""), std::string::npos) << detail;
    }
}

TEST(SimTcp, ABoardThatEndsIsGoneNotATimeout) {
    auto sim = std::make_unique<SimProcess>("VireoB", std::vector<std::string>{"--usb-tcp", "0"});
    ASSERT_TRUE(sim->ok()) << sim->error();
    UsbSimVariable variable(sim->usbSocket());
    Error error;
    std::string detail;
    std::unique_ptr<Transport> transport;
    Enumerate(&error, &detail, &transport);
    ASSERT_NE(transport, nullptr) << detail;
    Link link(std::move(transport));
    uint32_t word = 0;
    ASSERT_EQ(link.GetStatus(&word), Error::Ok) << link.ErrorDetail();
    sim.reset();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.GetStatus(&word), Error::Gone) << link.ErrorDetail();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
}  // namespace bootwire
