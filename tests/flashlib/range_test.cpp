// Ranges of the flash libraries' streaming mode, on the library's core compiled
// for the host against the flash models: the digests of a range's blocks (an
// erased one's among them), writes at an offset that keep the rest of their
// sector and erase nothing else, an erase that does not start on a sector, two
// ranges in one session, a NAND range across a bad block, and requests that do
// not fit.
#include <gtest/gtest.h>

#include <algorithm>

#include "programs/programs.h"
#include "range_session.h"
#include "sim/board_harness.h"

namespace vsim::test {
namespace {

namespace fastwire = bootwire::stream;
using flashlib::BuiltinFlashLibrary;
using flashlib::BuiltinLibrary;
using rangetest::RangeSession;
using rangetest::Reply;

constexpr uint32_t k4K = 4096;
constexpr uint32_t kNandBlock = NandFlash::kBlockData;

std::vector<uint8_t> Filled(size_t size, uint8_t value) { return std::vector<uint8_t>(size, value); }

std::vector<uint8_t> Slice(const std::vector<uint8_t>& data, size_t at, size_t size) {
    return {data.begin() + static_cast<ptrdiff_t>(at), data.begin() + static_cast<ptrdiff_t>(at + size)};
}

// A board running a built-in library in streaming mode with no image of its own,
// and a version 2 session with it at 115200 baud: the library's core compiled
// for the host, or its ARM code on the emulated core.
class Ranges : public ::testing::TestWithParam<bool> {
protected:
    explicit Ranges(Cpu cpu = Cpu::VireoC_TO2) : board_(cpu) {}

    void Begin(BuiltinLibrary library) {
        board_.LoadLibrary(BuiltinFlashLibrary(library));
        board_.LoadJob(0, {}, Channel::Serial);
        board_.PutWord(0xFFE8, fastwire::kStreamRequest);
        board_.Start(GetParam() ? MakeEmulatedProgramFactory() : MakeNativeProgramFactory());
        session_.emplace(rangetest::ByteLine{[this](const std::vector<uint8_t>& frame) {
                                                 board_.Running().HostBytes(Channel::Serial, frame.data(),
                                                                            frame.size());
                                             },
                                             [this](size_t, std::chrono::milliseconds timeout) {
                                                 auto bytes = board_.ReceivedFrom(Channel::Serial, seen_, timeout);
                                                 seen_ += bytes.size();
                                                 return bytes;
                                             }});
        ASSERT_TRUE(session_->Start(fastwire::kRomBaud));
    }
    void End() {
        EXPECT_TRUE(session_->Quit());
        EXPECT_EQ(board_.WaitEnded(), std::optional<bool>(true)) << "the library hands the board back";
    }
    uint32_t Nor(uint32_t offset) const { return board_.Map().norBase + offset; }
    void Preload(uint32_t offset, const std::vector<uint8_t>& data) {
        board_.Flash().Nor().Preload(offset, data.data(), data.size());
    }
    void Fault(const std::string& spec) {
        std::string error;
        ASSERT_TRUE(board_.Flash().AddFault(spec, &error)) << error;
    }
    std::string NorFault(const char* kind, uint32_t offset) {
        char text[48];
        std::snprintf(text, sizeof text, "%s:%08X", kind, Nor(offset));
        return text;
    }
    RangeSession& S() { return *session_; }

    Board board_;
    std::optional<RangeSession> session_;
    size_t seen_ = 0;
};

TEST_P(Ranges, DigestsListTheBlocksAsTheFlashHoldsThem) {
    auto data = RandomImage(0x9000, 3);
    std::fill(data.begin() + 2 * k4K, data.begin() + 3 * k4K, 0xFF);  // block 2: erased
    Preload(0x21000, data);
    Begin(BuiltinLibrary::NorVireoC);
    // 34 KiB: eight whole blocks and a short one.
    const uint32_t size = 0x8800;
    const auto range = S().Range(Nor(0x21000), size, 0, k4K);
    ASSERT_TRUE(range && range->kind == Reply::Range);
    EXPECT_EQ(range->value, 9u);
    const auto digests = S().Digests(0, 9);
    ASSERT_EQ(digests.size(), 9u);
    for (uint32_t i = 0; i < 9; ++i) {
        const uint32_t length = std::min(k4K, size - i * k4K);
        EXPECT_EQ(digests[i], fastwire::Crc64(Slice(data, i * k4K, length))) << "block " << i;
    }
    EXPECT_EQ(digests[2], 0x81225F948D780652ull) << "the datasheet's constant for an erased 4 KiB block";
    const auto done = S().Finish();
    ASSERT_TRUE(done && done->kind == Reply::Done);
    EXPECT_EQ(done->value, fastwire::Crc32(Slice(data, 0, size)));
    End();
}

// Two blocks written, one in a sector of old data, one in an erased sector; the
// sectors no write touches cannot erase, nor can the erased one: only the first
// needs an erase.
TEST_P(Ranges, WritesAtAnOffsetKeepTheRestOfTheirSectorAndEraseNothingElse) {
    Preload(0x20000, Filled(0x20000, 0x5A));  // sector 0x20000..0x3FFFF
    Fault(NorFault("erase-stuck", 0x18000));  // the small sector before the range
    Fault(NorFault("erase-stuck", 0x40000));  // erased, written without an erase
    Fault(NorFault("erase-stuck", 0x60000));  // covered by the range, never written
    Begin(BuiltinLibrary::NorVireoC);
    ASSERT_EQ(S().Range(Nor(0x1F000), 0x50000, 0, k4K)->kind, Reply::Range);
    const auto one = RandomImage(k4K, 7);
    const auto two = RandomImage(k4K, 8);
    ASSERT_EQ(S().Write(3, one)->kind, Reply::Accepted);         // 0x22000
    ASSERT_EQ(S().Write(34, two, true)->kind, Reply::Accepted);  // 0x41000
    const auto done = S().Finish();
    ASSERT_TRUE(done && done->kind == Reply::Done) << "state " << int(done ? done->state : 0);
    End();
    EXPECT_EQ(board_.Nor(0x22000, k4K), one);
    EXPECT_EQ(board_.Nor(0x41000, k4K), two);
    EXPECT_EQ(board_.Nor(0x20000, 0x2000), Filled(0x2000, 0x5A));
    EXPECT_EQ(board_.Nor(0x23000, 0x1D000), Filled(0x1D000, 0x5A));
    EXPECT_EQ(board_.Nor(0x40000, 0x1000), Filled(0x1000, 0xFF));
}

TEST_P(Ranges, EraseCoversTheSectorsOfARangeThatDoesNotStartOnOne) {
    Preload(0x10000, Filled(0x40000, 0x33));
    Begin(BuiltinLibrary::NorVireoC);
    // From inside the last small sector (0x18000) into the first large one (0x20000).
    ASSERT_EQ(S().Range(Nor(0x1F000), 0x2000, 0, k4K)->kind, Reply::Range);
    const auto erased = S().Ask(fastwire::EncodeFrame(fastwire::Frame::Erase, 0, 0), Reply::Erased);
    ASSERT_TRUE(erased && erased->kind == Reply::Erased);
    EXPECT_EQ(erased->erased.start, Nor(0x18000));
    EXPECT_EQ(erased->erased.end, Nor(0x40000));
    EXPECT_EQ(erased->erased.units, 2u);
    EXPECT_EQ(erased->erased.skipped, 0u);
    EXPECT_EQ(S().Digests(0, 2), (std::vector<uint64_t>{fastwire::ErasedDigest(k4K), fastwire::ErasedDigest(k4K)}));
    End();
    EXPECT_EQ(board_.Nor(0x18000, 0x28000), Filled(0x28000, 0xFF));
    EXPECT_EQ(board_.Nor(0x10000, 0x8000), Filled(0x8000, 0x33));
    EXPECT_EQ(board_.Nor(0x40000, 0x10000), Filled(0x10000, 0x33));
}

// The first range written in order (a deflate stream over it, as version 1
// writes the parameter block's image), the second by ranged blocks and left
// without a Finish: the goodbye writes it.
TEST_P(Ranges, TwoRangesInOneSession) {
    Begin(BuiltinLibrary::NorVireoC);
    const auto first = RandomImage(0x23456, 11);
    ASSERT_EQ(S().Range(Nor(0x100000), static_cast<uint32_t>(first.size()), 0, k4K)->kind, Reply::Range);
    ASSERT_TRUE(S().Stream(first));
    const auto done = S().Finish();
    ASSERT_TRUE(done && done->kind == Reply::Done);
    EXPECT_EQ(done->value, fastwire::Crc32(first));

    const auto second = RandomImage(2 * k4K, 12);
    ASSERT_EQ(S().Range(Nor(0x300000), 2 * k4K, 0, k4K)->kind, Reply::Range);
    ASSERT_EQ(S().Write(1, Slice(second, k4K, k4K))->kind, Reply::Accepted);
    ASSERT_EQ(S().Write(0, Slice(second, 0, k4K))->kind, Reply::Accepted);
    End();
    EXPECT_EQ(board_.Nor(0x100000, first.size()), first);
    EXPECT_EQ(board_.Nor(0x300000, second.size()), second);
}

TEST_P(Ranges, RequestsThatDoNotFitAreAnsweredWithTheirReason) {
    Begin(BuiltinLibrary::NorVireoC);
    const auto request = static_cast<uint8_t>(fastwire::Reason::Request);
    ASSERT_EQ(S().Range(Nor(0x1000), 0x3000, 0, k4K)->kind, Reply::Range);
    EXPECT_TRUE(S().Digests(2, 2).empty()) << "block 3 is not in the range";
    EXPECT_EQ(S().Write(3, RandomImage(k4K))->reason, request);
    EXPECT_EQ(S().Digests(0, 3).size(), 3u) << "the session goes on";

    EXPECT_EQ(S().Range(Nor(0x1000), 0x1000, 0, 3000)->reason, request) << "not a power of two";
    const auto refused = S().Range(Nor(NorFlash::kSize - 0x1000), 0x2000, 0, k4K);
    EXPECT_EQ(refused->kind, Reply::Error);
    EXPECT_EQ(refused->state, kStateEraseError);
    EXPECT_EQ(refused->reason, static_cast<uint8_t>(fastwire::Reason::Job)) << "past the end of the part";
    // A refused range leaves none in use, not the one before it.
    EXPECT_EQ(S().Write(0, RandomImage(k4K))->reason, request);
    EXPECT_TRUE(S().Digests(0, 1).empty());
    End();
    EXPECT_EQ(board_.Flash().Nor().Writes(), 0u);
}

class NandRanges : public Ranges {};

// Blocks 63 to 66 of the partition; 64 carries a factory mark and is skipped,
// reads and writes alike.
TEST_P(NandRanges, SkipTheBadBlocksAsTheWritesDo) {
    Begin(BuiltinLibrary::NandVireoC);
    const auto image = RandomImage(3 * kNandBlock, 21);
    ASSERT_EQ(S().Range(63 * kNandBlock, 3 * kNandBlock, 67 * kNandBlock - 1, k4K)->kind, Reply::Range);
    ASSERT_TRUE(S().Stream(image));
    ASSERT_EQ(S().Finish()->value, fastwire::Crc32(image));
    EXPECT_EQ(board_.Nand(65 * kNandBlock, kNandBlock), Slice(image, kNandBlock, kNandBlock));

    // Block 5 of the range is the second 4 KiB of its second NAND block: block 65.
    const auto change = RandomImage(k4K, 22);
    ASSERT_EQ(S().Write(5, change)->kind, Reply::Accepted);
    auto expected = image;
    std::copy(change.begin(), change.end(), expected.begin() + 5 * k4K);
    const auto digests = S().Digests(4, 3);
    ASSERT_EQ(digests.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(digests[i], fastwire::Crc64(Slice(expected, (4 + i) * k4K, k4K)));
    End();
    EXPECT_EQ(board_.Nand(65 * kNandBlock, kNandBlock), Slice(expected, kNandBlock, kNandBlock));
    EXPECT_EQ(board_.Nand(64 * kNandBlock, kNandBlock), Filled(kNandBlock, 0xFF));
    EXPECT_NE(board_.Flash().Nand()->PeekSpare(64 * 32, NandFlash::kBadBlockMarker), 0xFF);
}

std::string CoreName(const ::testing::TestParamInfo<bool>& info) { return info.param ? "Emulated" : "Native"; }

INSTANTIATE_TEST_SUITE_P(Cores, Ranges, ::testing::Bool(), CoreName);
INSTANTIATE_TEST_SUITE_P(Cores, NandRanges, ::testing::Bool(), CoreName);

}  // namespace
}  // namespace vsim::test
