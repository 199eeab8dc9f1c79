// Ranges against the real vireo-sim process over its pty: the built-in NOR
// library loaded by the boot ROM in streaming mode runs on the board's emulated
// core. A 1 MiB image is written, then the library is loaded again and the same
// image with one 4 KiB block changed goes out as that one block: the board's own
// count of block payload bytes (--stats) proves it, and its flash dump holds the
// new image.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "flashlib/images.h"
#include "range_session.h"
#include "sim_process.h"
#include "stream_wire.h"
#include "test_images.h"

namespace rangetest {
namespace {

namespace fastwire = bootwire::stream;
using sealtest::SimProcess;

constexpr uint32_t kRamBase = 0x80000000;  // VireoC
constexpr uint32_t kNorBase = 0xA0000000;
constexpr uint32_t kBlock = 4096;
constexpr uint32_t kImageSize = 1u << 20;
constexpr uint32_t kFlashAddress = kNorBase + 0x100000;

struct Board {
    bool paced;
};

class RangesOnTheBoard : public ::testing::TestWithParam<Board> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-ranges-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::vector<std::string> extra = {"--dump-flash", dir_ + "/flash.bin", "--stats", dir_ + "/stats.json"};
        if (GetParam().paced) extra.push_back("--pace");
        sim_ = std::make_unique<SimProcess>("VireoC_TO2", extra);
        ASSERT_TRUE(sim_->ok()) << sim_->error();
        bootwire::Error error = bootwire::Error::Ok;
        std::string detail;
        auto transport = bootwire::OpenSerial(sim_->serial(), static_cast<int>(bootwire::LineMode::NoParityOneStop),
                                              &error, &detail);
        ASSERT_TRUE(transport) << detail;
        transport_ = transport.get();  // the test speaks the library's own protocol on it
        link_.Attach(std::move(transport));
    }
    void TearDown() override {
        link_.Detach();
        sim_.reset();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    // The boot ROM loads the library's code and a parameter block that asks for
    // streaming and names no image; then a version 2 session at 921600 baud.
    RangeSession Load() {
        std::string error;
        EXPECT_TRUE(LoadStreaming(link_, flashlib::BuiltinFlashLibrary(flashlib::BuiltinLibrary::NorVireoC), kRamBase,
                                  kNorBase, &error))
            << error;
        bootwire::Transport* t = transport_;
        RangeSession session(SerialLine(t));
        EXPECT_TRUE(session.Start(921600, [t] { t->SetLineSpeed(921600); }));
        return session;
    }
    void Unload(RangeSession& session) {
        bootwire::Transport* t = transport_;
        EXPECT_TRUE(session.Quit([t] { t->SetLineSpeed(fastwire::kRomBaud); }));
        // The board is back in its boot ROM, at its speed.
        uint32_t word = 0;
        EXPECT_EQ(link_.GetStatus(&word), bootwire::Error::Ok) << link_.ErrorDetail();
    }

    // The blocks whose digest on the board differs from the image's.
    std::vector<uint32_t> Differing(RangeSession& session, const std::vector<uint8_t>& image) {
        const auto range = session.Range(kFlashAddress, kImageSize, 0, kBlock);
        EXPECT_TRUE(range && range->kind == fastwire::Reply::Range);
        const std::vector<uint64_t> digests = session.Digests(0, kImageSize / kBlock);
        EXPECT_EQ(digests.size(), kImageSize / kBlock);
        std::vector<uint32_t> differing;
        for (uint32_t i = 0; i < digests.size(); ++i) {
            if (digests[i] != fastwire::Crc64(std::span(image).subspan(i * kBlock, kBlock))) differing.push_back(i);
        }
        return differing;
    }

    std::string dir_;
    std::unique_ptr<SimProcess> sim_;
    bootwire::Link link_;
    bootwire::Transport* transport_ = nullptr;
};

TEST_P(RangesOnTheBoard, AReflashWithOneChangedBlockSendsThatBlockAlone) {
    const std::vector<uint8_t> image = sealtest::ArmCodeImage(kImageSize);
    ASSERT_EQ(image.size(), kImageSize) << "no ARM code for the test image";
    {
        RangeSession session = Load();
        EXPECT_EQ(Differing(session, image).size(), kImageSize / kBlock) << "the flash starts erased";
        ASSERT_TRUE(session.Stream(image));
        const auto done = session.Finish();
        ASSERT_TRUE(done && done->kind == fastwire::Reply::Done);
        EXPECT_EQ(done->value, fastwire::Crc32(image));
        Unload(session);
    }
    std::vector<uint8_t> changed = image;
    for (uint32_t i = 0; i < kBlock; i += 64) changed[100 * kBlock + i] ^= 0x5A;
    {
        RangeSession session = Load();
        const std::vector<uint32_t> differing = Differing(session, changed);
        ASSERT_EQ(differing, std::vector<uint32_t>{100});
        const auto written = session.Write(100, std::span(changed).subspan(100 * kBlock, kBlock));
        ASSERT_TRUE(written && written->kind == fastwire::Reply::Accepted);
        const auto done = session.Finish();
        ASSERT_TRUE(done && done->kind == fastwire::Reply::Done);
        EXPECT_EQ(done->value, fastwire::Crc32(changed));
        Unload(session);
    }
    ASSERT_EQ(sim_->Stop(), 0);
    const auto flash = sealtest::ReadFile(dir_ + "/flash.bin");
    ASSERT_GE(flash.size(), 0x100000u + kImageSize);
    EXPECT_TRUE(std::equal(changed.begin(), changed.end(), flash.begin() + 0x100000));

    const auto stats = sealtest::ReadFile(dir_ + "/stats.json");
    const std::string text(stats.begin(), stats.end());
    std::smatch m;
    const std::regex second(R"(\{"entry": "0x80004000", "stream_blocks": \d+, "stream_payload_bytes": \d+\}, )"
                            R"(\{"entry": "0x80004000", "stream_blocks": (\d+), "stream_payload_bytes": (\d+)\})");
    ASSERT_TRUE(std::regex_search(text, m, second)) << text;
    EXPECT_EQ(m[1], "1") << text;
    EXPECT_LE(std::stoul(m[2]), kBlock) << "one deflated 4 KiB block: " << text;
}

INSTANTIATE_TEST_SUITE_P(Boards, RangesOnTheBoard, ::testing::Values(Board{false}, Board{true}),
                         [](const ::testing::TestParamInfo<Board>& p) { return p.param.paced ? "Paced" : "Unpaced"; });

}  // namespace
}  // namespace rangetest
