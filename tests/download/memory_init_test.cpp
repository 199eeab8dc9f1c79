// The memory-init script reader and the presets, down to the frames on the wire.
#include "download/memory/memory_init.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fake_board.h"

namespace sealbench {
namespace {

using sealtest::FakeLink;
using sealtest::Frame;

Frame Bytes(std::initializer_list<int> list) {
    Frame f{};
    size_t i = 0;
    for (int b : list) f[i++] = static_cast<uint8_t>(b);
    return f;
}

std::string WriteTemp(const std::string& name, const std::string& text) {
    std::string path = (std::filesystem::temp_directory_path() /
                        (name + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                           .string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(ScriptLine, CasesOfTheFormat) {
    ScriptLine plain = ParseScriptLine("0xB8001004 0x006AC73A 32\n");
    ASSERT_EQ(plain.kind, ScriptLineKind::Write);
    EXPECT_EQ(plain.write, (RegisterWrite{0xB8001004, 0x006AC73A, 32}));

    ScriptLine trailing = ParseScriptLine("0xB8001004 0x006AC73A 32 # timing\n");
    ASSERT_EQ(trailing.kind, ScriptLineKind::Write);
    EXPECT_EQ(trailing.write, plain.write);

    EXPECT_EQ(ParseScriptLine("# 0xB8001004 0x006AC73A 32\n").kind, ScriptLineKind::Skipped);
    EXPECT_EQ(ParseScriptLine("    # x\n").kind, ScriptLineKind::Skipped);
    EXPECT_EQ(ParseScriptLine("\n").kind, ScriptLineKind::Skipped);
    EXPECT_EQ(ParseScriptLine("abc\n").kind, ScriptLineKind::Skipped);
    EXPECT_EQ(ParseScriptLine("").kind, ScriptLineKind::Skipped);
    EXPECT_EQ(ParseScriptLine("          \n").kind, ScriptLineKind::Skipped);

    ScriptLine long_value = ParseScriptLine("0xB8001004 0x0123456789 32\n");
    ASSERT_EQ(long_value.kind, ScriptLineKind::Write);
    EXPECT_EQ(long_value.write.value, 0x01234567u);

    ScriptLine spaced = ParseScriptLine("  0x80000033    0xDA   8\n");
    ASSERT_EQ(spaced.kind, ScriptLineKind::Write);
    EXPECT_EQ(spaced.write, (RegisterWrite{0x80000033, 0xDA, 8}));
}

TEST(ScriptLine, LinesOutOfFormAreMalformedNotGuessed) {
    for (const char* text : {"0xB8001004 0x006AC73A\n", "B8001004 0x006AC73A 32\n", "0XB8001004 0x1 32\n",
                             "0xB8001004\t0x006AC73A 32\n", "0xB8001004 0x0060ZZ 32\n", "0xB8001004 0x1 24\n",
                             "0xB8001004 0x1 thirty\n", "0x 0x1 32\n", "hello world\n"}) {
        ScriptLine line = ParseScriptLine(text);
        EXPECT_EQ(line.kind, ScriptLineKind::Malformed) << text;
        EXPECT_FALSE(line.problem.empty()) << text;
    }
}

TEST(ScriptLine, HashBeyondTheFifthCharacterDoesNotSkip) {
    // "#" at position 5 or later: the line is read, and the comment after the width ignored.
    ScriptLine line = ParseScriptLine("0xB8001004 0x1 16#c\n");
    ASSERT_EQ(line.kind, ScriptLineKind::Write);
    EXPECT_EQ(line.write.width, 16);
}

TEST(Script, LongLinesAreReadInPiecesAndNumbered) {
    std::string padded = "0xB8001004 0x006AC73A 32" + std::string(106, ' ');  // 130 characters
    std::string text = "# header\n" + padded + "\nabc\n";
    std::vector<ScriptPiece> pieces = SplitScript(text);  // views into text
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[1].text.size(), kScriptPieceLength);
    EXPECT_EQ(pieces[1].lineNumber, 2);
    EXPECT_EQ(pieces[2].text, "     \n");
    EXPECT_EQ(pieces[2].lineNumber, 2);
    EXPECT_EQ(pieces[3].lineNumber, 3);
    // Blanks left over from a long line hold no write.
    ParsedScript blanks = ParseScript(text);
    EXPECT_EQ(blanks.malformedLine, 0);
    EXPECT_EQ(blanks.writes.size(), 1u);
    // Text left over is read as a line of its own, and it is not in form.
    std::string spilled = "0xB8001004 0x006AC73A 32 " + std::string(105, 'a');
    ParsedScript script = ParseScript("# header\n" + spilled + "\n");
    EXPECT_EQ(script.malformedLine, 2);
    EXPECT_TRUE(script.writes.empty());
    // A comment longer than a piece stays a comment to its end.
    ParsedScript commented = ParseScript("# " + std::string(300, 'c') + "\n" + padded + "\n");
    EXPECT_EQ(commented.malformedLine, 0) << commented.problem;
    ASSERT_EQ(commented.lineNumbers, std::vector<int>{2});
}

TEST(Script, CrLfLinesReadLikeLf) {
    ParsedScript script = ParseScript(NormalizeLineEnds("# init\r\n0xB8001004 0x006AC73A 32\r\nab\r\n"));
    EXPECT_EQ(script.malformedLine, 0);
    ASSERT_EQ(script.writes.size(), 1u);
    EXPECT_EQ(script.lineNumbers[0], 2);
}

TEST(Script, MalformedLineWritesNothingAndIsNamed) {
    FakeLink fake;
    std::string path = WriteTemp("init", "0xB8001004 0x006AC73A 32\n# ok\n0xB8001000 92100000 32\n");
    Outcome result = RunMemoryInit(*fake.link, ProcessorType::VireoC_TO1, {false, false, path});
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.message, kScriptInitError);
    EXPECT_NE(result.detail.find("line 3"), std::string::npos) << result.detail;
    EXPECT_EQ(fake.board->Record().frames.size(), 0u);
    std::filesystem::remove(path);
}

TEST(Script, WritesGoOutByteExactWithTheProcessorCode) {
    FakeLink fake;
    std::string path = WriteTemp("init", "0xB8001004 0x006AC73A 32 # timing\n\n0x80000033 0xDA 8\n");
    Outcome result = RunMemoryInit(*fake.link, ProcessorType::VireoC_TO2, {false, false, path});
    ASSERT_TRUE(result.Ok()) << result.detail;
    auto record = fake.board->Record();
    ASSERT_EQ(record.frames.size(), 2u);
    EXPECT_EQ(record.frames[0],
              Bytes({0x02, 0x02, 0xB8, 0x00, 0x10, 0x04, 0x20, 0, 0, 0, 0, 0x00, 0x6A, 0xC7, 0x3A, 0}));
    EXPECT_EQ(record.frames[1], Bytes({0x02, 0x02, 0x80, 0x00, 0x00, 0x33, 0x08, 0, 0, 0, 0, 0, 0, 0, 0xDA, 0}));
    std::filesystem::remove(path);
}

TEST(Script, RefusedWriteNamesItsLine) {
    FakeLink fake;
    fake.board->failRegisterWrite = 2;
    std::string path = WriteTemp("init", "0xB8001004 0x1 32\n#\n0xB8001008 0x2 32\n0xB800100C 0x3 32\n");
    Outcome result = RunMemoryInit(*fake.link, ProcessorType::VireoC_TO1, {false, false, path});
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.message, kScriptInitError);
    EXPECT_NE(result.detail.find("line 3"), std::string::npos) << result.detail;
    EXPECT_EQ(fake.board->Record().registerWrites, 2);
    std::filesystem::remove(path);
}

TEST(Script, MissingFileOrEmptyPathSkipsTheStep) {
    FakeLink fake;
    EXPECT_TRUE(RunMemoryInit(*fake.link, ProcessorType::VireoC_TO1, {false, false, ""}).Ok());
    EXPECT_TRUE(RunMemoryInit(*fake.link, ProcessorType::VireoC_TO1, {false, false, "/nonexistent/init.txt"}).Ok());
    EXPECT_EQ(fake.board->Record().frames.size(), 0u);
}

TEST(Script, ARequiredScriptAndOneThatIsNoFileFailWithTheReason) {
    FakeLink fake;
    Outcome missing = RunMemoryInit(*fake.link, ProcessorType::VireoB, {false, false, "/nonexistent/init.txt", true});
    EXPECT_EQ(missing.message, "Memory init error");
    EXPECT_NE(missing.detail.find("/nonexistent/init.txt cannot be read: No such file or directory"), std::string::npos)
        << missing.detail;

    // The page too: a FIFO would hold the window in open() until a program writes to it.
    std::string fifo = (std::filesystem::temp_directory_path() / ("init-fifo-" + std::to_string(::getpid()))).string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Outcome refused = RunMemoryInit(*fake.link, ProcessorType::VireoB, {false, false, fifo});
    std::filesystem::remove(fifo);
    EXPECT_EQ(refused.message, "Memory init error");
    EXPECT_NE(refused.detail.find("(it is a FIFO)"), std::string::npos) << refused.detail;
    EXPECT_EQ(fake.board->Record().frames.size(), 0u);
}

TEST(Presets, TablesByProcessor) {
    EXPECT_EQ(DdrPreset(ProcessorType::VireoC_TO1).size(), 19u);
    EXPECT_EQ(DdrPreset(ProcessorType::None).size(), 19u);
    EXPECT_EQ(DdrPreset(ProcessorType::VireoB).size(), 16u);
    EXPECT_EQ(SdramPreset(ProcessorType::VireoC_TO2).size(), 11u);
    EXPECT_TRUE(SdramPreset(ProcessorType::VireoB).empty());
    EXPECT_EQ(DdrPreset(ProcessorType::VireoC_TO1)[15], (RegisterWrite{0x80000033, 0xDA, 8}));
    EXPECT_EQ(DdrPreset(ProcessorType::VireoB)[15], (RegisterWrite{0xD8001010, 0x0C, 32}));
    EXPECT_EQ(SdramPreset(ProcessorType::VireoC_TO1)[9], (RegisterWrite{0xB8001000, 0x82126180, 32}));
}

TEST(Presets, DdrOnTheWireAndStoppedAtTheFirstRefusal) {
    FakeLink fake;
    Outcome ok = RunMemoryInit(*fake.link, ProcessorType::VireoB, {true, false, ""});
    ASSERT_TRUE(ok.Ok());
    auto record = fake.board->Record();
    ASSERT_EQ(record.frames.size(), 16u);
    EXPECT_EQ(record.frames[0], Bytes({0x02, 0x02, 0xD8, 0x00, 0x20, 0x00, 0x20, 0, 0, 0, 0, 0, 0, 0xCC, 0x03, 0}));

    FakeLink failing;
    failing.board->failRegisterWrite = 5;
    Outcome failed = RunMemoryInit(*failing.link, ProcessorType::VireoC_TO1, {true, true, ""});
    EXPECT_FALSE(failed.Ok());
    EXPECT_EQ(failed.message, kDdrInitError);
    EXPECT_EQ(failing.board->Record().registerWrites, 5);
}

TEST(Presets, SdramOnVireoBWritesNothing) {
    FakeLink fake;
    EXPECT_TRUE(RunMemoryInit(*fake.link, ProcessorType::VireoB, {false, true, ""}).Ok());
    EXPECT_EQ(fake.board->Record().frames.size(), 0u);
    FakeLink failing;
    failing.board->failRegisterWrite = 1;
    Outcome failed = RunMemoryInit(*failing.link, ProcessorType::VireoC_TO2, {false, true, ""});
    EXPECT_EQ(failed.message, kSdramInitError);
}

}  // namespace
}  // namespace sealbench
