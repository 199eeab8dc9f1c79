// DTR and RTS through the library against the real vireo-sim: its RFC 2217 port
// with the board in a jig (--jig), its unique ID (--uid) as the boot ROM reads it,
// and the links that have no lines to set.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim_process.h"

namespace bootwire {
namespace {

using sealtest::SimProcess;

constexpr uint32_t kSekurel = 0x3C;  // what get-status answers in the boot ROM
constexpr uint32_t kUniqueIdC = 0xB800C000;

// The board's RFC 2217 address, announced after its other links.
std::string Rfc2217Address(SimProcess& sim) {
    const std::string line = sim.Line();
    const std::string prefix = "rfc2217: ";
    return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : std::string();
}

std::unique_ptr<Transport> OpenPort(const std::string& port) {
    Error error = Error::Ok;
    std::string detail;
    auto transport = OpenSerial(port, 1, &error, &detail);
    EXPECT_EQ(error, Error::Ok) << detail;
    return error == Error::Ok ? std::move(transport) : nullptr;
}

void Play(Link& link, std::initializer_list<std::pair<ControlLine, bool>> steps) {
    for (auto [line, on] : steps) {
        ASSERT_EQ(link.SetControlLine(line, on), Error::Ok) << link.ErrorDetail();
    }
}

// What arrives on the line until `text` was seen or nothing more came.
std::string ReadUntil(Transport& transport, const std::string& text) {
    std::string seen;
    while (seen.find(text) == std::string::npos) {
        uint8_t byte = 0;
        size_t got = 0;
        transport.Receive(&byte, 1, &got);
        if (got == 0) {
            break;
        }
        seen += static_cast<char>(byte);
    }
    return seen;
}

// A board on its RFC 2217 port and a link to it, with the link's transport in view
// too (a link has no raw read).
class NetworkedBoard {
public:
    explicit NetworkedBoard(std::vector<std::string> extra) : sim_("VireoC_TO2", WithPort(std::move(extra))) {
        auto transport = sim_.ok() ? OpenPort(Rfc2217Address(sim_)) : nullptr;
        if (!transport) return;
        line_ = transport.get();
        link_.Attach(std::move(transport));
        link_.SetReceiveTimeoutLimit(500);
    }
    bool ok() const { return line_ != nullptr; }
    SimProcess& sim() { return sim_; }
    Transport& line() { return *line_; }
    Link& link() { return link_; }

private:
    static std::vector<std::string> WithPort(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--rfc2217", "0"});
        return extra;
    }
    SimProcess sim_;
    Link link_;
    Transport* line_ = nullptr;
};

TEST(SimJig, ResetIntoBootModeAnswersTheRomAndIntoFirmwareDoesNot) {
    NetworkedBoard board({"--jig"});
    ASSERT_TRUE(board.ok()) << board.sim().Stderr();
    SimProcess& sim = board.sim();
    Transport& line = board.line();
    Link& link = board.link();

    // Opening raised RTS, which holds the board in reset: nothing answers.
    uint32_t word = 0;
    EXPECT_NE(link.GetStatus(&word), Error::Ok);

    Play(link, {{ControlLine::Dtr, true}, {ControlLine::Rts, false}});
    ASSERT_EQ(link.GetStatus(&word), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(word, kSekurel);

    Play(link, {{ControlLine::Dtr, false}, {ControlLine::Rts, true}, {ControlLine::Rts, false}});
    const std::string banner = ReadUntil(line, "vireo> ");
    EXPECT_NE(banner.find("VireoC_TO2 firmware: booting from flash"), std::string::npos) << banner;
    // The console echoes the frame; the ROM's word never comes.
    ASSERT_EQ(link.GetStatus(&word), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(word, 0x00000505u);
    EXPECT_TRUE(sim.WaitForStderr("jig: RTS off (reset released)")) << sim.Stderr();
}

TEST(SimJig, UniqueIdIsWhatTheRomsReadMemoryReads) {
    const std::string uid = "00112233445566778899aabbccddeeff0123456789abcdef";
    SimProcess sim("VireoC_TO2", {"--uid", uid});
    ASSERT_TRUE(sim.ok()) << sim.error();
    Link link(OpenPort(sim.serial()));
    ASSERT_TRUE(link.IsOpen());

    // A write to the block changes nothing: fuses are read-only.
    ASSERT_EQ(link.WriteRegister(kUniqueIdC, 0xFFFFFFFF, 32, 0), Error::Ok) << link.ErrorDetail();
    std::vector<uint8_t> read(64);
    ASSERT_EQ(link.ReadData(kUniqueIdC, read.data(), read.size(), 32), Error::Ok) << link.ErrorDetail();
    std::string hex;
    for (uint8_t b : read) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    EXPECT_EQ(hex, uid + std::string(128 - uid.size(), '0'));
}

TEST(SimJig, WrongSpeedOverRfc2217Garbles) {
    NetworkedBoard board({});
    ASSERT_TRUE(board.ok()) << board.sim().Stderr();
    SimProcess& sim = board.sim();
    Transport& line = board.line();
    Link& link = board.link();
    uint32_t word = 0;
    ASSERT_EQ(link.GetStatus(&word), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(word, kSekurel);

    // The server takes the speed; the UART stays at 115200 baud, and what crosses is garbage.
    ASSERT_EQ(line.SetLineSpeed(57600), Error::Ok) << line.LastDetail();
    word = 0;
    EXPECT_TRUE(link.GetStatus(&word) != Error::Ok || word != kSekurel) << std::hex << word;
    EXPECT_TRUE(sim.WaitForStderr("57600 baud, 8 data bits, no parity, 1 stop bit) differs from the UART's"))
        << sim.Stderr();
}

TEST(SimJig, LinksWithoutLinesSayWhy) {
    SimProcess sim("VireoC_TO2", {"--rfc2217", "0"}, true);
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string rawPort = "socket://" + Rfc2217Address(sim).substr(std::string("rfc2217://").size());
    ::setenv("BOOTWIRE_USB_SIM", sim.usbSocket().c_str(), 1);
    Error error = Error::Ok;
    std::string detail;
    auto usb = OpenUsbAt("sim:usb", &error, &detail);
    ::unsetenv("BOOTWIRE_USB_SIM");
    ASSERT_NE(usb, nullptr) << detail;

    struct Case {
        std::unique_ptr<Transport> transport;
        std::string why;
    } cases[] = {
        {OpenPort(sim.serial()), "a pseudo-terminal has no DTR/RTS lines"},
        {OpenPort(rawPort), "is raw TCP: DTR on cannot be set from here (use an rfc2217:// port)"},
        {std::move(usb), "has no DTR/RTS lines"},
    };
    for (Case& c : cases) {
        ASSERT_NE(c.transport, nullptr) << c.why;
        Link link(std::move(c.transport));
        EXPECT_EQ(link.SetControlLine(ControlLine::Dtr, true), Error::Unsupported);
        EXPECT_NE(link.ErrorDetail().find(c.why), std::string::npos) << link.ErrorDetail();
    }
}

}  // namespace
}  // namespace bootwire
