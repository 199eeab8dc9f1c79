// The library over network ports: the real ser2net exports the real vireo-sim's
// pty on a loopback port, and what the board holds or reports is the judge.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>

#include "ser2net_process.h"
#include "sim_process.h"

namespace {

using bootwire::Error;
using bootwire::Link;
using sealtest::Ser2netProcess;
using sealtest::SimProcess;
using Clock = std::chrono::steady_clock;
using Kind = Ser2netProcess::Kind;

constexpr uint32_t kRamBase = 0x80000000;

std::vector<uint8_t> Random(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

class NetLink : public ::testing::Test {
protected:
    void SetUp() override {
        if (Ser2netProcess::Executable().empty()) {
            GTEST_SKIP() << "ser2net is not installed; scripts/install-deps.sh installs it";
        }
    }

    // The board and ser2net in front of it; false (with a test failure) when either did not start.
    bool Start(const std::string& cpu, Kind kind = Kind::Rfc2217, std::vector<std::string> extra = {},
               const std::string& line = "115200n81") {
        sim_ = std::make_unique<SimProcess>(cpu, std::move(extra));
        EXPECT_TRUE(sim_->ok()) << sim_->error();
        if (!sim_->ok()) return false;
        server_ = std::make_unique<Ser2netProcess>(sim_->serial(), kind, line);
        EXPECT_TRUE(server_->ok()) << server_->error();
        return server_->ok();
    }

    std::unique_ptr<bootwire::Transport> Open(int lineMode, Error expected = Error::Ok) {
        Error error = Error::Io;
        auto transport = bootwire::OpenSerial(server_->Url(), lineMode, &error, &detail_);
        EXPECT_EQ(error, expected) << detail_;
        return transport;
    }

    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<Ser2netProcess> server_;
    std::string detail_;
};

TEST_F(NetLink, Rfc2217RegistersReadsAndDownloads) {
    ASSERT_TRUE(Start("VireoC_TO2"));
    Link link(Open(1));
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.Describe(), server_->Url());

    ASSERT_EQ(link.WriteRegister(kRamBase + 0x100, 0xCAFEF00D, 32, 0), Error::Ok) << link.ErrorDetail();
    uint8_t word[4] = {};
    ASSERT_EQ(link.ReadData(kRamBase + 0x100, word, 4, 32), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(word[0], 0x0D);
    EXPECT_EQ(word[3], 0xCA);

    // Past one image piece, so that a second write-file header follows a full 0x1F0000.
    auto image = Random(0x1F0000 + 0x1234, 5);
    const uint32_t address = kRamBase + 0x10000;
    size_t observed = 0;
    link.SetSendObserver([&](size_t n) { observed += n; });
    ASSERT_EQ(link.ImageDownload(address, image.data(), image.size()), Error::Ok) << link.ErrorDetail();
    link.SetSendObserver({});
    EXPECT_EQ(observed, image.size() + 1024);
    std::vector<uint8_t> back(image.size());
    ASSERT_EQ(link.ReadData(address, back.data(), back.size(), 32), Error::Ok) << link.ErrorDetail();
    EXPECT_TRUE(back == image);
    EXPECT_EQ(link.CompleteEndResponse(), Error::Ok) << link.ErrorDetail();
}

TEST_F(NetLink, IacBytesTravelBothWays) {
    ASSERT_TRUE(Start("VireoB"));
    Link link(Open(1));
    ASSERT_TRUE(link.IsOpen());
    // 0xFF is Telnet's IAC: doubled on the way out, undoubled on the way back.
    std::vector<uint8_t> ones(70000, 0xFF);
    for (size_t i = 0; i < ones.size(); i += 3) ones[i] = static_cast<uint8_t>(i);
    const uint32_t address = 0xA0100000;
    ASSERT_EQ(link.ImageDownload(address, ones.data(), ones.size()), Error::Ok) << link.ErrorDetail();
    ASSERT_EQ(link.WriteRegister(address + ones.size(), 0xFFFFFFFF, 32, 0), Error::Ok) << link.ErrorDetail();
    std::vector<uint8_t> back(ones.size() + 4);
    ASSERT_EQ(link.ReadData(address, back.data(), back.size(), 32), Error::Ok) << link.ErrorDetail();
    EXPECT_TRUE(std::equal(ones.begin(), ones.end(), back.begin()));
    EXPECT_EQ(std::vector<uint8_t>(back.end() - 4, back.end()), std::vector<uint8_t>(4, 0xFF));
}

// The board checks the line settings of every byte it reads: through ser2net they
// must be the ones the line mode asked for, or it says so.
struct LineCase {
    const char* cpu;
    int lineMode;
    bool mismatch;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.cpu << " line mode " << c.lineMode; }

class NetLineSettings : public NetLink, public ::testing::WithParamInterface<LineCase> {};

TEST_P(NetLineSettings, ReachThePty) {
    const LineCase c = GetParam();
    ASSERT_TRUE(Start(c.cpu));
    Link link(Open(c.lineMode));
    ASSERT_TRUE(link.IsOpen());
    uint32_t status = 0;
    ASSERT_EQ(link.GetStatus(&status), Error::Ok) << link.ErrorDetail();
    if (c.mismatch) {
        EXPECT_TRUE(sim_->WaitForStderr("line settings mismatch")) << sim_->Stderr();
    } else {
        EXPECT_EQ(sim_->Stop(), 0);  // everything the board had to say is out
        EXPECT_EQ(sim_->Stderr().find("mismatch"), std::string::npos) << sim_->Stderr();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, NetLineSettings,
                         ::testing::Values(LineCase{"VireoC_TO1", 0, false}, LineCase{"VireoC_TO1", 1, true},
                                           LineCase{"VireoC_TO2", 1, false}, LineCase{"VireoC_TO2", 0, true}),
                         [](const auto& param) {
                             return std::string(param.param.cpu) + "_Mode" + std::to_string(param.param.lineMode);
                         });

TEST_F(NetLink, LineSpeedReachesThePtyAndComesBack) {
    ASSERT_TRUE(Start("VireoC_TO2"));
    Link link(Open(1));
    ASSERT_TRUE(link.IsOpen());
    ASSERT_EQ(link.SetLineSpeed(230400), Error::Ok) << link.ErrorDetail();
    // The board's UART still runs at 115200: it sees the new speed as garbled bytes.
    uint32_t status = 0;
    link.SetReceiveTimeoutLimit(500);
    EXPECT_NE(link.GetStatus(&status), Error::Ok);
    EXPECT_TRUE(sim_->WaitForStderr("the host uses 230400 baud")) << sim_->Stderr();
    ASSERT_EQ(link.SetLineSpeed(115200), Error::Ok) << link.ErrorDetail();
}

TEST_F(NetLink, RawSocketMovesBytesAndSaysTheLineIsTheServers) {
    ASSERT_TRUE(Start("VireoC_TO1", Kind::Raw, {}, "115200o82"));
    Link link(Open(0));
    ASSERT_TRUE(link.IsOpen());
    EXPECT_NE(detail_.find("line settings cannot be set"), std::string::npos) << detail_;
    EXPECT_NE(detail_.find("odd parity, 2 stop bits"), std::string::npos) << detail_;
    std::vector<uint8_t> image = Random(100000, 9);
    std::fill(image.begin() + 500, image.begin() + 900, 0xFF);
    ASSERT_EQ(link.ImageDownload(0x80010000, image.data(), image.size()), Error::Ok) << link.ErrorDetail();
    std::vector<uint8_t> back(image.size());
    ASSERT_EQ(link.ReadData(0x80010000, back.data(), back.size(), 32), Error::Ok) << link.ErrorDetail();
    EXPECT_TRUE(back == image);
    EXPECT_EQ(link.SetLineSpeed(921600), Error::Unsupported);
    EXPECT_EQ(sim_->Stop(), 0);
    EXPECT_EQ(sim_->Stderr().find("mismatch"), std::string::npos) << sim_->Stderr();
}

TEST_F(NetLink, ARawServerIsNotTakenForRfc2217) {
    ASSERT_TRUE(Start("VireoC_TO2", Kind::Raw));
    Error error = Error::Ok;
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(server_->port());
    auto start = Clock::now();
    auto transport = bootwire::OpenSerial(url, 1, &error, &detail_);
    EXPECT_EQ(error, Error::Settings);
    EXPECT_NE(detail_.find("socket://"), std::string::npos) << detail_;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
}

TEST_F(NetLink, RefusedAndMalformedAddressesFailAtOnce) {
    sealtest::RefusingPort nobody;
    ASSERT_GT(nobody.port(), 0);
    for (const char* scheme : {"rfc2217", "socket"}) {
        const std::string url = std::string(scheme) + "://127.0.0.1:" + std::to_string(nobody.port());
        Error error = Error::Ok;
        std::string detail;
        auto start = Clock::now();
        EXPECT_EQ(bootwire::OpenSerial(url, 1, &error, &detail), nullptr);
        EXPECT_EQ(error, Error::NotFound) << detail;
        EXPECT_NE(detail.find(url), std::string::npos) << detail;
        EXPECT_NE(detail.find("refused"), std::string::npos) << detail;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    }
    Error error = Error::Ok;
    std::string detail;
    EXPECT_EQ(bootwire::OpenSerial("rfc2217://127.0.0.1", 1, &error, &detail), nullptr);
    EXPECT_EQ(error, Error::NotFound);
    EXPECT_NE(detail.find("rfc2217://HOST:PORT"), std::string::npos) << detail;
    EXPECT_EQ(bootwire::OpenSerial("rfc2217://no-such-host.invalid:2001", 1, &error, &detail), nullptr);
    EXPECT_EQ(error, Error::NotFound) << detail;
}

TEST_F(NetLink, APacedLineIsNotTakenForAStuckOne) {
    // On loopback TCP holds back its window until 64 KiB are free, over five seconds
    // of a 115200 baud line: longer than any pause a moving line makes.
    ASSERT_TRUE(Start("VireoC_TO2", Kind::Rfc2217, {"--pace"}));
    Link link(Open(1));
    ASSERT_TRUE(link.IsOpen());
    auto image = Random(160 * 1024, 4);
    ASSERT_EQ(link.ImageDownload(kRamBase + 0x10000, image.data(), image.size()), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(link.CompleteEndResponse(), Error::Ok) << link.ErrorDetail();
}

TEST_F(NetLink, AServerThatDiesIsGoneNotATimeout) {
    ASSERT_TRUE(Start("VireoC_TO2", Kind::Rfc2217, {"--pace"}));
    Link link(Open(1));
    ASSERT_TRUE(link.IsOpen());
    ASSERT_EQ(link.WriteRegister(kRamBase, 1, 32, 0), Error::Ok) << link.ErrorDetail();
    server_->Kill(SIGKILL);
    auto start = Clock::now();
    auto image = Random(300000, 3);
    Error e = link.ImageDownload(kRamBase + 0x10000, image.data(), image.size());
    EXPECT_EQ(e, Error::Gone) << link.ErrorDetail();
    EXPECT_NE(link.ErrorDetail().find("closed"), std::string::npos) << link.ErrorDetail();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

}  // namespace

namespace {

// ser2net in front of a pty has no lines to drive: the library must not take its
// silence, or an answer that DTR stayed as it was, for a jig that acted.
TEST_F(NetLink, Rfc2217LineControlThatTheServerCannotDoIsAnError) {
    ASSERT_TRUE(Start("VireoC_TO2"));
    Link link(Open(1));
    ASSERT_TRUE(link.IsOpen());
    const Error error = link.SetControlLine(bootwire::ControlLine::Dtr, false);
    EXPECT_NE(error, Error::Ok);
    EXPECT_NE(link.ErrorDetail().find("DTR off"), std::string::npos) << link.ErrorDetail();
    // The line itself still works.
    uint32_t word = 0;
    EXPECT_EQ(link.GetStatus(&word), Error::Ok) << link.ErrorDetail();
}

}  // namespace

namespace {

// The classic interface through a network port, with an image that ends where the
// caller's memory ends: nothing past the buffer may be read, and a size without a
// buffer sends nothing.
TEST_F(NetLink, TheFacadeStaysWithinTheCallersBuffers) {
    ASSERT_TRUE(Start("VireoC_TO2"));
    const long page = ::sysconf(_SC_PAGESIZE);
    void* pages =
        ::mmap(nullptr, 2 * static_cast<size_t>(page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(::mprotect(static_cast<char*>(pages) + page, static_cast<size_t>(page), PROT_NONE), 0);
    constexpr size_t kShort = 104;  // far below the application header's 1024 bytes
    auto* image = reinterpret_cast<uint8_t*>(static_cast<char*>(pages) + page - kShort);
    for (size_t i = 0; i < kShort; ++i) image[i] = static_cast<uint8_t>(0xA5 ^ i);

    BootwireClass bw;
    std::string url = server_->Url();
    ASSERT_EQ(bw.Vireo_InitComPort(url.data(), 1), 1);
    const uint32_t address = kRamBase + 0x10000;
    EXPECT_EQ(bw.Vireo_ImageDownload(0, address, static_cast<int>(kShort), reinterpret_cast<long*>(image), 1), 1);
    EXPECT_EQ(bw.Vireo_CSFDownload(0, kRamBase + 0x1200, 16, nullptr, 1), 0);
    EXPECT_EQ(bw.Vireo_HWCDownload(0, kRamBase + 0x1010, 16, nullptr, 1), 0);
    // Had a header gone out, the board would take this frame as its data.
    EXPECT_EQ(bw.Vireo_WriteRegister(0, kRamBase + 0x100, 0x600DF00D, 32, 1), 1);
    long back[kShort / sizeof(long)] = {};
    ASSERT_EQ(bw.Vireo_ReadData(0, address, back, static_cast<int>(kShort), 32, 1), 1);
    EXPECT_EQ(std::memcmp(back, image, kShort), 0);
    bw.Vireo_InitComPort(nullptr, 1);  // lets the port go
    ::munmap(pages, 2 * static_cast<size_t>(page));
}

}  // namespace
