// Whole flashing runs against the board: the built-in flash library loaded the
// way the host's download workflow loads it, the board starting it from its boot
// ROM, the status queries answered until the run ends, and the flash contents
// checked afterwards. In-process with the native program, and over the real
// process's pty and USB socket.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "flash/board_flash.h"
#include "flashlib/images.h"
#include "host_io.h"
#include "programs/programs.h"

using namespace simtest;

namespace {

// One way to reach a board as a host does.
class HostLink {
public:
    virtual ~HostLink() = default;
    virtual bool Send(const Bytes& bytes) = 0;
    virtual Bytes Receive(size_t n) = 0;
};

class InProcessLink : public HostLink {
public:
    InProcessLink(vsim::Board& board, Host& host) : board_(board), host_(host) {}
    bool Send(const Bytes& bytes) override { return Feed(board_, bytes) == bytes.size(); }
    Bytes Receive(size_t n) override { return host_.TakeN(n); }

private:
    vsim::Board& board_;
    Host& host_;
};

class FdLink : public HostLink {
public:
    explicit FdLink(int fd) : fd_(fd) {}
    bool Send(const Bytes& bytes) override { return WriteFor(fd_, bytes); }
    Bytes Receive(size_t n) override { return ReadFor(fd_, n); }

private:
    int fd_;
};

uint32_t Le32(const Bytes& b) {
    return b.size() < 4 ? 0xFFFFFFFF : uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24);
}

void PutLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// The download buffer of a NOR flashing run: library, parameter block, image.
Bytes FlashingBuffer(flashlib::BuiltinLibrary library, uint32_t ramBase, uint32_t flashAddress, const Bytes& image,
                     uint32_t channel) {
    auto code = flashlib::BuiltinFlashLibrary(library);
    Bytes buffer(0x10000 + image.size());
    std::copy(code.begin(), code.end(), buffer.begin());
    PutLe32(buffer, 0xFFE0, flashAddress);
    PutLe32(buffer, 0xFFE4, 0);
    PutLe32(buffer, 0xFFF0, ramBase + 0x10000);
    PutLe32(buffer, 0xFFF4, flashAddress);
    PutLe32(buffer, 0xFFF8, uint32_t(image.size()));
    PutLe32(buffer, 0xFFFC, channel);
    std::copy(image.begin(), image.end(), buffer.begin() + 0x10000);
    return buffer;
}

// Sends the buffer from offset 0x4000 the way the host library does, starts the
// library and polls it; returns the last state code (0 when the link failed).
uint32_t RunFlashing(HostLink& link, const Bytes& buffer, uint32_t ramBase) {
    constexpr size_t kPiece = 0x1F0000, kSend = 0x10000;
    const uint8_t* data = buffer.data() + 0x4000;
    const size_t size = buffer.size() - 0x4000;
    const uint32_t at = ramBase + 0x4000;
    for (size_t offset = 0; offset < size; offset += kPiece) {
        size_t piece = std::min(kPiece, size - offset);
        if (!link.Send(WriteFile(at + uint32_t(offset), uint32_t(piece), 0)) || link.Receive(4) != Word(0x56787856))
            return 0;
        for (size_t s = 0; s < piece; s += kSend) {
            if (!link.Send(Bytes(data + offset + s, data + offset + s + std::min(kSend, piece - s)))) return 0;
        }
    }
    if (!link.Send(WriteFile(at, 1024, 0xAA)) || link.Receive(4) != Word(0x56787856)) return 0;
    if (!link.Send(Bytes(data, data + 1024)) || !link.Send(GetStatus()) || link.Receive(4) != Word(0x88888888))
        return 0;
    for (int poll = 0; poll < 10000000; ++poll) {
        if (!link.Send(StatusQuery())) return 0;
        Bytes word = link.Receive(4);
        if (word.size() != 4) return 0;
        uint32_t state = Le32(word) >> 16;
        if (state >= 0xB1 && state <= 0xB4) return state;
    }
    return 0;
}

Bytes Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/vireo-sim-run-" + std::to_string(getpid()) + "-" + name;
}

TEST(FlashRun, InProcessNorRunWritesTheImageAndHandsBack) {
    Host host;
    vsim::BoardConfig config;
    config.cpu = vsim::Cpu::VireoC_TO2;
    config.flash = vsim::MakeBoardFlash(config.cpu);
    config.programs = vsim::MakeNativeProgramFactory();
    vsim::Board board(std::move(config), host.Links());
    InProcessLink link(board, host);

    Bytes image = Pattern(0x30001, 11);
    Bytes buffer = FlashingBuffer(flashlib::BuiltinLibrary::NorVireoC, 0x80000000, 0xA0000000, image, 0);
    EXPECT_EQ(RunFlashing(link, buffer, 0x80000000), 0xB4u);
    ASSERT_TRUE(host.WaitProgramEnd(1));
    board.Poll();
    EXPECT_FALSE(board.ProgramRunning());
    EXPECT_EQ(Feed(board, GetStatus()), 16u);
    EXPECT_EQ(host.TakeN(4), Word(vsim::kDefaultSekurelStatus)) << "the board is back in its boot ROM";

    Bytes dump = board.Flash()->Dump();
    ASSERT_GE(dump.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), dump.begin()));
    // Bus reads of the flash window see the same bytes.
    EXPECT_EQ(board.Memory().ReadWord(0xA0000000), Le32(image));
}

TEST(FlashRun, StatusFaultsHitTheRunningFlashLibrary) {
    Host host;
    vsim::BoardConfig config;
    config.cpu = vsim::Cpu::VireoB;
    config.flash = vsim::MakeBoardFlash(config.cpu);
    config.programs = vsim::MakeNativeProgramFactory();
    config.faults.statusWords = {{1, 0x00B20000}};
    vsim::Board board(std::move(config), host.Links());
    InProcessLink link(board, host);
    Bytes buffer = FlashingBuffer(flashlib::BuiltinLibrary::NorVireoB, 0xA0000000, 0xC0000000, Pattern(4096), 0);
    EXPECT_EQ(RunFlashing(link, buffer, 0xA0000000), 0xB2u) << "the first answer was the injected one";
    board.Shutdown();
}

TEST(FlashRun, OverThePtyWithTheDumpOnSigterm) {
    std::string dump = TempPath("nor.bin");
    SimProcess sim({"--cpu", "VireoC_TO1", "--flashlib", "model", "--dump-flash", dump});
    ASSERT_TRUE(sim.Ready());
    int fd = OpenSerial(sim.serial(), B115200, true);
    ASSERT_GE(fd, 0);
    FdLink link(fd);
    Bytes image = Pattern(0x1F0000 - 0xC000 + 5, 12);  // the download crosses a piece boundary
    Bytes buffer = FlashingBuffer(flashlib::BuiltinLibrary::NorVireoC, 0x80000000, 0xA0000000, image, 0);
    EXPECT_EQ(RunFlashing(link, buffer, 0x80000000), 0xB4u);
    ::close(fd);
    sim.Signal(SIGTERM);
    ASSERT_EQ(sim.Wait(), 0) << sim.Stderr();
    Bytes flash = Slurp(dump);
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_NE(sim.Stderr().find("program started at 0x80004000"), std::string::npos);
    std::remove(dump.c_str());
}

TEST(FlashRun, OverUsbTheDeviceReenumeratesAfterTheRun) {
    std::string path = TempPath("usb.sock");
    SimProcess sim({"--cpu", "VireoC_TO2", "--flashlib", "model", "--usb-socket", path});
    ASSERT_TRUE(sim.Ready(true));
    int fd = ConnectUsb(path);
    ASSERT_GE(fd, 0);
    FdLink link(fd);
    Bytes buffer = FlashingBuffer(flashlib::BuiltinLibrary::NorVireoC, 0x80000000, 0xA0000000, Pattern(70000), 1);
    EXPECT_EQ(RunFlashing(link, buffer, 0x80000000), 0xB4u);
    // The board closes the connection: the host must enumerate again.
    EXPECT_TRUE(ReadFor(fd, 1).empty());
    ::close(fd);
    int again = ConnectUsb(path);
    ASSERT_GE(again, 0);
    EXPECT_EQ(Exchange(again, GetStatus(), 4), Word(0x3C));
    ::close(again);
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(FlashRun, TheDefaultRunsTheLibrarysCodeOnTheEmulatedCore) {
    std::string dump = TempPath("emulated.bin");
    SimProcess sim({"--cpu", "VireoB", "--dump-flash", dump});
    ASSERT_TRUE(sim.Ready());
    int fd = OpenSerial(sim.serial());
    FdLink link(fd);
    Bytes image = Pattern(6000, 13);
    Bytes buffer = FlashingBuffer(flashlib::BuiltinLibrary::NorVireoB, 0xA0000000, 0xC0000000, image, 0);
    EXPECT_EQ(RunFlashing(link, buffer, 0xA0000000), 0xB4u);
    ::close(fd);
    sim.Signal(SIGTERM);
    ASSERT_EQ(sim.Wait(), 0) << sim.Stderr();
    Bytes flash = Slurp(dump);
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    std::remove(dump.c_str());
}

TEST(FlashRun, StatusSilentLeavesTheHostWithoutAnswer) {
    SimProcess sim({"--cpu", "VireoC_TO2", "--flashlib", "model", "--fault", "status-silent:1"});
    ASSERT_TRUE(sim.Ready());
    int fd = OpenSerial(sim.serial());
    FdLink link(fd);
    Bytes buffer = FlashingBuffer(flashlib::BuiltinLibrary::NorVireoC, 0x80000000, 0xA0000000, Pattern(1000), 0);
    // RunFlashing's receive gives up after its wait limit; keep that short here.
    EXPECT_EQ(Exchange(fd, WriteFile(0x80004000, uint32_t(buffer.size() - 0x4000), 0), 4), Word(0x56787856));
    ASSERT_TRUE(WriteFor(fd, Bytes(buffer.begin() + 0x4000, buffer.end())));
    EXPECT_EQ(Exchange(fd, WriteFile(0x80004000, 1024, 0xAA), 4), Word(0x56787856));
    ASSERT_TRUE(WriteFor(fd, Bytes(buffer.begin() + 0x4000, buffer.begin() + 0x4400)));
    EXPECT_EQ(Exchange(fd, GetStatus(), 4), Word(0x88888888));
    EXPECT_TRUE(Exchange(fd, StatusQuery(), 4, 2).empty());
    Bytes next = Exchange(fd, StatusQuery(), 4);
    ASSERT_EQ(next.size(), 4u) << "the next query is the program's again";
    EXPECT_GE(Le32(next) >> 16, 0xA1u);
    ::close(fd);
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

}  // namespace
