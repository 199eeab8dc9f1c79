// The board core in-process: every frame's answer, what lands in memory, the
// program hook and the link faults.
#include <gtest/gtest.h>

#include <cstring>

#include "core/cpu.h"
#include "sim_support.h"

using namespace simtest;
using vsim::Board;
using vsim::BoardConfig;
using vsim::Channel;
using vsim::Cpu;

namespace {

const Bytes kAckDone = Cat({Word(0x56787856), Word(0x128A8A12)});

struct BoardTest : ::testing::Test {
    Host host;
    std::unique_ptr<Board> board;

    void Make(Cpu cpu = Cpu::VireoC_TO2, vsim::LinkFaults faults = {}, vsim::ProgramFactory programs = nullptr,
              uint32_t sekurel = vsim::kDefaultSekurelStatus) {
        BoardConfig config;
        config.cpu = cpu;
        config.faults = faults;
        config.programs = std::move(programs);
        config.sekurelStatus = sekurel;
        board = std::make_unique<Board>(std::move(config), host.Links());
    }

    Bytes Ask(const Bytes& frame, Channel c = Channel::Serial) {
        Feed(*board, frame, c);
        return host.Take(c);
    }

    // Loads an image the way the host library cuts it: pieces of 0x1F0000 bytes with
    // their own headers, payload sends of 64 KiB, then the 1024-byte application header.
    void Download(uint32_t addr, const Bytes& image, Channel c = Channel::Serial) {
        constexpr size_t kPiece = 0x1F0000, kSend = 0x10000;
        size_t offset = 0;
        do {
            size_t piece = std::min(kPiece, image.size() - offset);
            Feed(*board, WriteFile(addr + uint32_t(offset), uint32_t(piece), 0x00), c);
            ASSERT_EQ(host.Take(c), Word(0x56787856));
            for (size_t s = 0; s < piece; s += kSend) {
                size_t n = std::min(kSend, piece - s);
                ASSERT_EQ(board->Feed(c, image.data() + offset + s, n), n);
            }
            offset += piece;
        } while (offset < image.size());
        Bytes head(1024);
        std::memcpy(head.data(), image.data(), std::min<size_t>(1024, image.size()));
        Feed(*board, WriteFile(addr, 1024, 0xAA), c);
        ASSERT_EQ(host.Take(c), Word(0x56787856));
        Feed(*board, head, c);
        EXPECT_TRUE(host.Take(c).empty()) << "no answer follows a payload";
    }

    bool RamHolds(uint32_t addr, const Bytes& bytes) {
        vsim::Ram& ram = board->Memory().RamArea();
        if (ram.Span(addr) < bytes.size()) return false;
        return std::memcmp(ram.Data() + (addr - ram.Base()), bytes.data(), bytes.size()) == 0;
    }
};

TEST_F(BoardTest, GetStatusWithoutApplicationAnswersSekurelWord) {
    Make();
    EXPECT_EQ(Ask(GetStatus()), Word(vsim::kDefaultSekurelStatus));
    Make(Cpu::VireoB, {}, nullptr, 0x12345678);
    EXPECT_EQ(Ask(GetStatus()), (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST_F(BoardTest, RegisterWritesAnswerBothWordsAndLandByWidth) {
    Make();
    EXPECT_EQ(Ask(WriteReg(0xB8001004, 0x006AC73A)), kAckDone);
    EXPECT_EQ(board->Memory().ReadWord(0xB8001004), 0x006AC73Au);
    // Narrow writes change only their own bytes, little-endian.
    EXPECT_EQ(Ask(WriteReg(0xB8001004, 0x000000FF, 8)), kAckDone);
    EXPECT_EQ(board->Memory().ReadWord(0xB8001004), 0x006AC7FFu);
    EXPECT_EQ(Ask(WriteReg(0xB8001006, 0x0000BEEF, 16)), kAckDone);
    EXPECT_EQ(board->Memory().ReadWord(0xB8001004), 0xBEEFC7FFu);
    // A write into RAM reaches the RAM the programs see.
    EXPECT_EQ(Ask(WriteReg(0x80000000, 0xDEADBEEF)), kAckDone);
    EXPECT_TRUE(RamHolds(0x80000000, Word(0xDEADBEEF)));
    // The top of the address space is an address like any other.
    EXPECT_EQ(Ask(WriteReg(0xFFFFFFFC, 0x01020304)), kAckDone);
    EXPECT_EQ(board->Memory().ReadWord(0xFFFFFFFC), 0x01020304u);
    EXPECT_EQ(board->RegisterWrites(), 5u);
}

TEST_F(BoardTest, VireoBKeepsItsControllerAndRamApart) {
    Make(Cpu::VireoB);
    EXPECT_EQ(Ask(WriteReg(0xD8001000, 0x92100000)), kAckDone);
    EXPECT_EQ(Ask(WriteReg(0xA0000400, 0x11223344)), kAckDone);
    EXPECT_TRUE(RamHolds(0xA0000400, Word(0x11223344)));
    EXPECT_EQ(board->Memory().ReadWord(0xD8001000), 0x92100000u);
    // 0x80000000 is not RAM on VireoB.
    EXPECT_EQ(board->Memory().RamArea().Span(0x80000000), 0u);
}

TEST_F(BoardTest, ReadMemoryAnswersAckThenBytes) {
    Make();
    Ask(WriteReg(0xB8002050, 0x0000DCF6));
    EXPECT_EQ(Ask(ReadMem(0xB8002050, 4)), Cat({Word(0x56787856), Word(0x0000DCF6)}));
    EXPECT_EQ(Ask(ReadMem(0xB8002050, 0)), Word(0x56787856));
    // Reads across the end of RAM continue into the sparse space.
    Ask(WriteReg(0x83FFFFFC, 0xA1A2A3A4));
    Ask(WriteReg(0x84000000, 0xB1B2B3B4));
    EXPECT_EQ(Ask(ReadMem(0x83FFFFFC, 8)), Cat({Word(0x56787856), Word(0xA1A2A3A4), Word(0xB1B2B3B4)}));
    // Never written: zero.
    EXPECT_EQ(Ask(ReadMem(0x10000000, 4)), Cat({Word(0x56787856), Word(0)}));
}

TEST_F(BoardTest, FramesSplitAnyWayGiveTheSameAnswers) {
    Make();
    Bytes stream = Cat({WriteReg(0xB8001010, 4), GetStatus(), ReadMem(0xB8001010, 4)});
    for (uint8_t b : stream) board->Feed(Channel::Serial, &b, 1);
    EXPECT_EQ(host.Take(), Cat({kAckDone, Word(vsim::kDefaultSekurelStatus), Word(0x56787856), Word(4)}));
}

TEST_F(BoardTest, BadFramesAreLoggedAndUnanswered) {
    Make();
    EXPECT_TRUE(Ask(Frame(3, 0, 0, 0, 0, 0)).empty());
    EXPECT_TRUE(Ask(Bytes{0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).empty());
    EXPECT_TRUE(host.Logged("unknown frame"));
    // A register write with a width that is not 8, 16 or 32 writes nothing.
    EXPECT_TRUE(Ask(WriteReg(0xB8001000, 0x12345678, 0x40)).empty());
    EXPECT_EQ(board->Memory().ReadWord(0xB8001000), 0u);
    EXPECT_TRUE(host.Logged("not 8, 16 or 32"));
    // A read larger than the RAM is refused instead of flooding the host.
    EXPECT_TRUE(Ask(ReadMem(0x80000000, 0xFFFFFFFF)).empty());
    // Framing is kept: the next frame is understood.
    EXPECT_EQ(Ask(GetStatus()), Word(vsim::kDefaultSekurelStatus));
}

TEST_F(BoardTest, WriteFileTypesLoadIntoMemory) {
    Make();
    Bytes hwc = Pattern(0x1F0, 3), csf = Pattern(0x2E00, 4);
    Feed(*board, WriteFile(0x80001010, uint32_t(hwc.size()), 0xEE));
    EXPECT_EQ(host.Take(), Word(0x56787856));
    Feed(*board, hwc);
    Feed(*board, Cat({WriteFile(0x80001200, uint32_t(csf.size()), 0xCC), csf}));
    EXPECT_EQ(host.Take(), Word(0x56787856));
    EXPECT_TRUE(RamHolds(0x80001010, hwc));
    EXPECT_TRUE(RamHolds(0x80001200, csf));
    EXPECT_FALSE(board->HasPendingEntry());
    // An empty load takes no payload: the next 16 bytes are a frame again.
    EXPECT_EQ(Ask(WriteFile(0x80002000, 0, 0x00)), Word(0x56787856));
    EXPECT_EQ(Ask(GetStatus()), Word(vsim::kDefaultSekurelStatus));
}

TEST_F(BoardTest, PayloadAndNextFrameInOneRead) {
    Make();
    Bytes data = Pattern(100);
    Feed(*board, Cat({WriteFile(0x80100000, 100, 0x00), data, WriteReg(0xB8001000, 7), GetStatus()}));
    EXPECT_EQ(host.Take(), Cat({Word(0x56787856), kAckDone, Word(vsim::kDefaultSekurelStatus)}));
    EXPECT_TRUE(RamHolds(0x80100000, data));
}

TEST_F(BoardTest, ImageDownloadsOfTheChunkingLimitsLand) {
    for (size_t size : {size_t{1}, size_t{65536}, size_t{65537}, size_t{0x1F0000}, size_t{0x1F0001}}) {
        SCOPED_TRACE(size);
        Make();
        Bytes image = Pattern(size, uint32_t(size));
        Download(0x80004000, image);
        EXPECT_TRUE(RamHolds(0x80004000, image));
        ASSERT_TRUE(board->HasPendingEntry());
        EXPECT_EQ(board->PendingEntry(), 0x80004000u);
    }
}

TEST_F(BoardTest, ImageOf32MiBFitsAboveTheFlashLibraryArea) {
    Make(Cpu::VireoB);
    Bytes image = Pattern(32u << 20, 9);
    Download(0xA0010000, image);
    EXPECT_TRUE(RamHolds(0xA0010000, image));
}

TEST_F(BoardTest, GetStatusStartsThePendingApplicationOnce) {
    std::vector<uint32_t> entries;
    Make(Cpu::VireoC_TO1, {}, [&](const vsim::ProgramContext& context) -> std::unique_ptr<vsim::Program> {
        entries.push_back(context.entry);
        EXPECT_EQ(context.ramBase, 0x80000000u);
        EXPECT_EQ(context.ram, board->Memory().RamArea().Data());
        EXPECT_EQ(context.ramSize, size_t{64} << 20);
        return nullptr;  // no program for it: the board just stays busy
    });
    Download(0x80004000, Pattern(5000));
    EXPECT_EQ(Ask(GetStatus()), Word(0x88888888));
    ASSERT_EQ(entries, std::vector<uint32_t>{0x80004000});
    EXPECT_TRUE(board->ProgramRunning());
    EXPECT_FALSE(board->HasPendingEntry());
    // A busy application ignores the boot protocol...
    EXPECT_TRUE(Ask(GetStatus()).empty());
    EXPECT_TRUE(Ask(WriteReg(0xB8001000, 1)).empty());
    // ...until the board is reset; memory survives the reset.
    board->Reset();
    EXPECT_FALSE(board->ProgramRunning());
    EXPECT_EQ(Ask(GetStatus()), Word(vsim::kDefaultSekurelStatus));
    EXPECT_TRUE(RamHolds(0x80004000, Pattern(5000)));
}

// A stand-in program: answers each query with a counting state word, and ends when
// it receives "END!" or "DIE!".
class ScriptedProgram : public vsim::Program {
public:
    explicit ScriptedProgram(vsim::ProgramContext context, std::vector<Bytes>* seen)
        : context_(std::move(context)), seen_(seen) {}
    void Start() override {}
    void HostBytes(Channel channel, const uint8_t* data, size_t n) override {
        seen_->emplace_back(data, data + n);
        for (size_t i = 0; i < n; ++i) {
            pending_.push_back(data[i]);
            if (EndsWith(StatusQuery())) {
                auto w = Word(0x00A10000u + uint32_t(++queries_));
                context_.toHost(channel, w.data(), w.size());
                pending_.clear();
            } else if (EndsWith({'E', 'N', 'D', '!'})) {
                context_.ended(true);
            } else if (EndsWith({'D', 'I', 'E', '!'})) {
                context_.ended(false);
            }
        }
    }
    void Stop() override {}

private:
    bool EndsWith(const Bytes& tail) const {
        return pending_.size() >= tail.size() &&
               std::equal(tail.begin(), tail.end(), pending_.end() - ptrdiff_t(tail.size()));
    }

    Bytes pending_;
    vsim::ProgramContext context_;
    std::vector<Bytes>* seen_;
    int queries_ = 0;
};

struct ProgramTest : BoardTest {
    std::vector<Bytes> seen;
    void Start(vsim::LinkFaults faults = {}, Channel c = Channel::Serial) {
        Make(Cpu::VireoC_TO2, faults,
             [this](const vsim::ProgramContext& context) { return std::make_unique<ScriptedProgram>(context, &seen); });
        Download(0x80004000, Pattern(2048), c);
        ASSERT_EQ(Ask(GetStatus(), c), Word(0x88888888));
        ASSERT_TRUE(board->ProgramRunning());
    }
};

TEST_F(ProgramTest, HostBytesReachTheProgramAndQueriesAreCounted) {
    Start();
    EXPECT_EQ(Ask(StatusQuery()), Word(0x00A10001));
    // A query cut into single bytes is still one query.
    Bytes q = StatusQuery();
    for (uint8_t b : q) board->Feed(Channel::Serial, &b, 1);
    EXPECT_EQ(host.Take(), Word(0x00A10002));
    EXPECT_EQ(board->StatusQueries(), 2u);
    // A lone byte that could start a query is not held back from the program.
    seen.clear();
    Feed(*board, Bytes{0x94});
    EXPECT_EQ(seen, std::vector<Bytes>{Bytes{0x94}});
}

TEST_F(ProgramTest, BytesHeldForAFaultReachTheProgramInOrder) {
    vsim::LinkFaults faults;
    faults.statusSilent = {10};
    Start(faults);
    // Bytes that only start like a query reach the program unchanged and in order.
    Feed(*board, Bytes{0x94, 0x93, 0x00, 0x01, 0x94, 0x07});
    Feed(*board, Bytes{0x94, 0x93});
    Feed(*board, Bytes{0x55});
    Bytes all;
    for (auto& s : seen) all.insert(all.end(), s.begin(), s.end());
    EXPECT_EQ(all, (Bytes{0x94, 0x93, 0x00, 0x01, 0x94, 0x07, 0x94, 0x93, 0x55}));
    EXPECT_EQ(Ask(StatusQuery()), Word(0x00A10001));
    EXPECT_EQ(board->StatusQueries(), 1u);
}

TEST_F(ProgramTest, StatusFaultsReplaceTheProgramsAnswer) {
    vsim::LinkFaults faults;
    faults.statusSilent = {2, 5};
    faults.statusWords = {{3, 0x00B30000}};
    Start(faults);
    EXPECT_EQ(Ask(StatusQuery()), Word(0x00A10001));
    EXPECT_TRUE(Ask(StatusQuery()).empty());
    EXPECT_EQ(Ask(StatusQuery()), Word(0x00B30000));
    EXPECT_EQ(Ask(StatusQuery()), Word(0x00A10002)) << "the program saw neither faulted query";
    EXPECT_TRUE(Ask(StatusQuery()).empty());
    EXPECT_EQ(board->StatusQueries(), 5u);
}

TEST_F(ProgramTest, HandingBackReturnsToTheBootRom) {
    Start();
    Feed(*board, Bytes{'E', 'N', 'D', '!'});
    board->Poll();
    EXPECT_FALSE(board->ProgramRunning());
    EXPECT_EQ(Ask(GetStatus()), Word(vsim::kDefaultSekurelStatus));
    EXPECT_EQ(host.UsbDisconnects(), 0) << "a serial run leaves USB alone";
}

TEST_F(ProgramTest, AUsbRunEndsWithReenumeration) {
    Start({}, Channel::Usb);
    EXPECT_EQ(Ask(StatusQuery(), Channel::Usb), Word(0x00A10001));
    Feed(*board, Bytes{'E', 'N', 'D', '!'}, Channel::Usb);
    board->Poll();
    EXPECT_EQ(host.UsbDisconnects(), 1);
    EXPECT_EQ(Ask(GetStatus(), Channel::Usb), Word(vsim::kDefaultSekurelStatus));
}

TEST_F(ProgramTest, AStoppedProgramLeavesTheBoardSilentUntilReset) {
    Start();
    Feed(*board, Bytes{'D', 'I', 'E', '!'});
    board->Poll();
    EXPECT_TRUE(board->Halted());
    EXPECT_TRUE(Ask(GetStatus()).empty());
    board->Reset();
    EXPECT_FALSE(board->Halted());
    EXPECT_EQ(Ask(GetStatus()), Word(vsim::kDefaultSekurelStatus));
}

TEST_F(BoardTest, RegWordFaultFailsTheNthWriteOnly) {
    vsim::LinkFaults faults;
    faults.regWords = {{2, 0x56787856}};  // even a right first word must not let the write pass
    Make(Cpu::VireoC_TO2, faults);
    EXPECT_EQ(Ask(WriteReg(0xB8001000, 1)), kAckDone);
    EXPECT_EQ(Ask(WriteReg(0xB8001004, 2)), Cat({Word(0x56787856), Word(0x56787856)}));
    EXPECT_EQ(board->Memory().ReadWord(0xB8001004), 0u) << "a refused write is not applied";
    EXPECT_EQ(Ask(WriteReg(0xB8001008, 3)), kAckDone);
    EXPECT_TRUE(host.Logged("fault: register write 2"));
}

TEST_F(BoardTest, SilentAfterStopsReadingAndAnswering) {
    vsim::LinkFaults faults;
    faults.silentAfter = 20;
    Make(Cpu::VireoC_TO2, faults);
    Bytes two = Cat({GetStatus(), GetStatus()});
    EXPECT_EQ(Feed(*board, two), 20u);
    EXPECT_EQ(host.Take(), Word(vsim::kDefaultSekurelStatus)) << "bytes taken before the limit are served";
    EXPECT_EQ(board->ReadBudget(), 0u);
    EXPECT_EQ(Feed(*board, GetStatus()), 0u);
    EXPECT_TRUE(host.Take().empty());

    faults.silentAfter = 0;
    Make(Cpu::VireoC_TO2, faults);
    EXPECT_EQ(Feed(*board, GetStatus()), 0u);
    EXPECT_TRUE(host.Take().empty());
}

TEST_F(BoardTest, ChannelsKeepTheirOwnFraming) {
    Make();
    Bytes s = WriteReg(0xB8001000, 5), u = GetStatus();
    board->Feed(Channel::Serial, s.data(), 7);
    board->Feed(Channel::Usb, u.data(), u.size());
    board->Feed(Channel::Serial, s.data() + 7, s.size() - 7);
    EXPECT_EQ(host.Take(Channel::Usb), Word(vsim::kDefaultSekurelStatus));
    EXPECT_EQ(host.Take(Channel::Serial), kAckDone);
}

}  // namespace
