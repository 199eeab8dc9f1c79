// sealbench-cli flash --fast, verify, erase and flash --layout through the built-in
// library's ranges, against the real vireo-sim process: the board's own count of
// the block payloads it received (--stats) and its flash dump are the witnesses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "cli_process.h"
#include "sim_process.h"
#include "test_images.h"

namespace {

using sealtest::RunCli;
using sealtest::SimProcess;
using Lines = std::vector<std::string>;

constexpr size_t kBlock = 4096;
constexpr size_t kNandBlock = 16384;

// What the board counted of the blocks each program it ran received.
struct Received {
    unsigned blocks = 0;
    unsigned long bytes = 0;
};

class RangesCli : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-ranges-cli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        sim_.reset();
        std::filesystem::remove_all(dir_);
    }

    void StartBoard(std::vector<std::string> extra = {}, bool paced = false) {
        extra.insert(extra.end(), {"--dump-flash", dir_ + "/flash.bin", "--stats", dir_ + "/stats.json"});
        if (paced) extra.push_back("--pace");
        sim_ = std::make_unique<SimProcess>("VireoC_TO2", extra);
        ASSERT_TRUE(sim_->ok()) << sim_->error();
    }
    // The flash dump and the board's counts, once it has ended.
    std::vector<uint8_t> StopBoard(std::vector<Received>* received = nullptr) {
        EXPECT_EQ(sim_->Stop(), 0);
        if (received) {
            const auto stats = sealtest::ReadFile(dir_ + "/stats.json");
            const std::string text(stats.begin(), stats.end());
            const std::regex entry(R"("entry": "[^"]*", "stream_blocks": (\d+), "stream_payload_bytes": (\d+)\})");
            for (auto it = std::sregex_iterator(text.begin(), text.end(), entry); it != std::sregex_iterator(); ++it) {
                received->push_back({static_cast<unsigned>(std::stoul((*it)[1])), std::stoul((*it)[2])});
            }
        }
        return sealtest::ReadFile(dir_ + "/flash.bin");
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    sealtest::CliResult Cli(Lines args) {
        args.insert(args.end(), {"--cpu", "VireoC_TO2", "--port", sim_->serial(), "--progress", "none"});
        return RunCli(args);
    }
    static bool Holds(const std::vector<uint8_t>& flash, size_t at, const std::vector<uint8_t>& image) {
        return flash.size() >= at + image.size() &&
               std::equal(image.begin(), image.end(), flash.begin() + static_cast<std::ptrdiff_t>(at));
    }
    static std::vector<uint8_t> Code(size_t size) {
        std::vector<uint8_t> image = sealtest::ArmCodeImage(size);
        EXPECT_EQ(image.size(), size) << "no ARM code for the test image";
        return image;
    }
    static std::vector<uint8_t> ChangedBlock(std::vector<uint8_t> image, size_t block) {
        for (size_t i = 0; i < kBlock; i += 64) image[block * kBlock + i] ^= 0x5A;
        return image;
    }

    std::string dir_;
    std::unique_ptr<SimProcess> sim_;
};

TEST_P(RangesCli, AReflashWithOneChangedBlockSendsThatBlock) {
    StartBoard({}, GetParam());
    const auto before = Code(256 * 1024);
    const auto after = ChangedBlock(before, 20);
    EXPECT_EQ(Cli({"flash", Write("a.bin", before), "--fast"}).status, 0);
    const auto run = Cli({"flash", Write("b.bin", after), "--fast"});
    EXPECT_EQ(run.status, 0) << run.err;
    const Lines lines = run.OutLines();
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[2].rfind("Image verified: ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("63 of 64 blocks already in flash"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3], "Flashing Completed");
    EXPECT_NE(run.err.find("63 of 64 blocks already in flash, skipped"), std::string::npos) << run.err;

    std::vector<Received> received;
    const auto flash = StopBoard(&received);
    EXPECT_TRUE(Holds(flash, 0, after));
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].blocks, 1u);
    EXPECT_LE(received[1].bytes, kBlock);
}

TEST_P(RangesCli, VerifyTellsWhereTheFlashDiffersAndWritesNothing) {
    StartBoard({}, GetParam());
    const auto image = Code(64 * 1024);
    const std::string same = Write("same.bin", image);
    EXPECT_EQ(Cli({"flash", same, "--fast"}).status, 0);

    const auto equal = Cli({"verify", same});
    EXPECT_EQ(equal.status, 0) << equal.err;
    EXPECT_EQ(equal.OutLines().back(), "Verify Completed") << equal.out;
    auto changed = ChangedBlock(ChangedBlock(ChangedBlock(image, 3), 4), 9);
    changed.resize(changed.size() - 100);  // the last block is shorter
    changed.back() ^= 1;
    const auto differs = Cli({"verify", Write("changed.bin", changed)});
    EXPECT_EQ(differs.status, 1);
    const Lines lines = differs.OutLines();
    const Lines spans(lines.end() - 3, lines.end());
    EXPECT_EQ(spans, (Lines{"differs: 0xA0003000-0xA0004FFF", "differs: 0xA0009000-0xA0009FFF",
                            "differs: 0xA000F000-0xA000FF9B"}))
        << differs.out;

    std::vector<Received> received;
    const auto flash = StopBoard(&received);
    EXPECT_TRUE(Holds(flash, 0, image));
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[1].blocks + received[2].blocks, 0u);
}

TEST_P(RangesCli, EraseCoversTheSectorsOfARangeOffTheirStart) {
    StartBoard({}, GetParam());
    const auto image = Code(96 * 1024);
    EXPECT_EQ(Cli({"flash", Write("image.bin", image), "--fast"}).status, 0);
    // 0xA0007000 to 0xA0008FFF: the end of sector 0 (32 KiB) and the start of sector 1.
    const auto run = Cli({"erase", "A0007000", "2000"});
    EXPECT_EQ(run.status, 0) << run.err;
    const Lines lines = run.OutLines();
    ASSERT_GE(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[lines.size() - 2], "Erased 0xA0000000-0xA000FFFF: 2 sectors of NOR flash");

    const auto flash = StopBoard();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 0x10000, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(image.begin() + 0x10000, image.end(), flash.begin() + 0x10000));
}

INSTANTIATE_TEST_SUITE_P(Boards, RangesCli, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Paced" : "Unpaced"; });

using RangesRun = RangesCli;

TEST_F(RangesRun, ARunKilledMidStreamResumesWhereItStopped) {
    StartBoard({}, true);
    const auto image = Code(1024 * 1024);
    const std::string path = Write("image.bin", image);
    {
        sealtest::CliChild cli(
            {"flash", path, "--fast", "--cpu", "VireoC_TO2", "--port", sim_->serial(), "--progress", "plain"}, true);
        ASSERT_TRUE(cli.WaitForOutput("Flash Program: 30%")) << cli.Output();
        cli.Signal(SIGKILL);
        cli.Wait(std::chrono::seconds(10));
    }
    // The library hands the board back once the host has been silent for 10 s.
    ASSERT_TRUE(sim_->WaitForStderr("program ended", std::chrono::seconds(60))) << sim_->Stderr();
    const auto run = Cli({"flash", path, "--fast"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(run.out, m, std::regex(R"((\d+) of 256 blocks already in flash)"))) << run.out;
    const unsigned kept = static_cast<unsigned>(std::stoul(m[1]));
    EXPECT_GE(kept, 256u * 3 / 10) << "what the first run wrote is not sent again";

    std::vector<Received> received;
    EXPECT_TRUE(Holds(StopBoard(&received), 0, image));
    ASSERT_EQ(received.size(), 2u);
    EXPECT_LE(received[1].bytes, (256 - kept) * kBlock);
}

TEST_F(RangesRun, ANandLayoutSkipsTheBadBlockInItsPartition) {
    // Block 64 (offset 0x100000) is bad from the factory; 0x110000 is made bad too.
    StartBoard({"--fault", "bad-block:110000"});
    const auto boot = Code(20 * 1024);
    const auto kernel = sealtest::NoiseImage(6 * kNandBlock + 1000, 3);
    Write("boot.bin", boot);
    Write("kernel.bin", kernel);
    const std::string layout = Write("nand.toml", {});
    std::ofstream(layout) << "[partitions]\n"
                             "boot = { offset = 0x0, size = 0x20000 }\n"
                             "kernel = { offset = 0xF8000, size = 0x40000 }\n"
                             "\n[[image]]\nfile = \"boot.bin\"\npartition = \"boot\"\n"
                             "\n[[image]]\nfile = \"kernel.bin\"\npartition = \"kernel\"\n";
    const auto run = Cli({"flash", "--layout", layout, "--flash-type", "nand"});
    EXPECT_EQ(run.status, 0) << run.err;
    const Lines lines = run.OutLines();
    ASSERT_EQ(lines.size(), 5u) << run.out;
    EXPECT_EQ(lines[2].rfind("Image verified: boot.bin at offset 0x00000000", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind("Image verified: kernel.bin at offset 0x000F8000", 0), 0u) << lines[3];

    const auto flash = StopBoard();
    EXPECT_TRUE(Holds(flash, 0, boot));
    // The kernel's blocks: 0xF8000 and 0xFC000, then (0x100000 bad) 0x104000 to
    // 0x10C000, then (0x110000 bad) 0x114000 on.
    std::vector<uint8_t> held;
    for (size_t at : {0xF8000, 0xFC000, 0x104000, 0x108000, 0x10C000, 0x114000, 0x118000}) {
        held.insert(held.end(), flash.begin() + static_cast<std::ptrdiff_t>(at),
                    flash.begin() + static_cast<std::ptrdiff_t>(at + kNandBlock));
    }
    held.resize(kernel.size());
    EXPECT_EQ(held, kernel);
}

TEST_F(RangesRun, ALayoutThatOverlapsOrMissesAFileIsRefusedBeforeTheBoard) {
    Write("a.bin", sealtest::NoiseImage(0x9000, 1));
    Write("b.bin", sealtest::NoiseImage(0x1000, 2));
    struct Case {
        std::string text;
        std::string says;
    };
    const Case cases[] = {
        {"[[image]]\nfile = \"a.bin\"\noffset = 0\n\n[[image]]\nfile = \"b.bin\"\noffset = 0x8000\n",
         "layout.toml:6: b.bin overlaps a.bin (line 2) at offsets 0x00008000 to 0x00008FFF"},
        {"[[image]]\nfile = \"a.bin\"\noffset = 0\n\n[[image]]\nfile = \"gone.bin\"\noffset = 0x10000\n",
         "layout.toml:6: the image file " + dir_ + "/gone.bin cannot be read"},
    };
    for (const Case& c : cases) {
        std::ofstream(dir_ + "/layout.toml") << c.text;
        // A port that is no board: a refusal that came too late would fail to open it.
        const auto run = RunCli({"flash", "--layout", dir_ + "/layout.toml", "--cpu", "VireoC_TO2", "--port",
                                 dir_ + "/ttyNothing", "--progress", "none"});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.out.find("Error! - " + c.says), std::string::npos) << run.out;
        EXPECT_EQ(run.err.find("Cannot Open"), std::string::npos) << run.err;
    }
}

}  // namespace
