// The station's files and figures: the record's lines read back by a real JSON
// parser, a line on the disk before the caller hears of it (the writer is killed
// the moment it is told), the JUnit report read by a real XML parser, and the
// line's figures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "station/junit_report.h"
#include "station/line_figures.h"
#include "station/record_file.h"

namespace sealbench {
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/sealbench-station-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a Python program on a file with Debian's interpreter; its output, or "" on failure.
std::string Python(const std::string& program, const std::string& file) {
    const std::string command = "/usr/bin/python3 -c '" + program + "' '" + file + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "";
    std::string out;
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    return ::pclose(pipe) == 0 ? out : "python failed: " + out;
}

BoardRecord Failed(const std::string& slot, const std::string& reason) {
    BoardRecord r;
    r.slot = slot;
    r.identity = "00c0ffee";
    r.imageSha256 = std::string(64, 'a');
    r.bytes = 65536;
    r.reason = reason;
    r.started = std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000123));
    r.seconds = 2.5;
    r.stages = {{"Downloading", 2.0}, {"Flash Erase", 0.5}};
    r.toolVersion = "0.1.0";
    return r;
}

TEST(Record, LinesAreJsonWhateverTheTextsHold) {
    TempDir dir;
    const std::string path = dir.File("record.jsonl");
    auto opened = RecordFile::Open(path);
    ASSERT_TRUE(opened.Ok()) << opened.outcome.message;
    BoardRecord ok = Failed("/dev/ttyUSB0", "");
    ok.ok = true;
    ok.reason = "left over";  // an OK board has no reason
    ASSERT_TRUE(opened.value->Append(ok).Ok());
    const std::string nasty = "said \"no\"\\ at\n0x10\t\x01 \xff\xfe end";
    ASSERT_TRUE(opened.value->Append(Failed("sim:a\"b", nasty)).Ok());

    const std::string program =
        "import json,sys\n"
        "for line in open(sys.argv[1], encoding=\"utf-8\"):\n"
        "  r = json.loads(line)\n"
        "  print(r[\"slot\"], r[\"result\"], ascii(r[\"reason\"]), r[\"bytes\"], r[\"started\"], r[\"seconds\"],\n"
        "        r[\"stages\"][\"Flash Erase\"], r[\"image_sha256\"][:4], r[\"identity\"], r[\"tool_version\"])\n";
    EXPECT_EQ(
        Python(program, path),
        "/dev/ttyUSB0 OK '' 65536 2023-11-14T22:13:20.123Z 2.5 0.5 aaaa 00c0ffee 0.1.0\n"
        "sim:a\"b FAILED 'said \"no\"\\\\ at\\n0x10\\t\\x01 \\ufffd\\ufffd end' 65536 2023-11-14T22:13:20.123Z 2.5 "
        "0.5 aaaa 00c0ffee 0.1.0\n");
}

TEST(Record, ALineIsOnTheDiskBeforeTheCallerIsTold) {
    TempDir dir;
    const std::string path = dir.File("record.jsonl");
    {
        std::ofstream torn(path, std::ios::binary);
        torn << "{\"slot\":\"half a li";  // what a crash mid-write of an older tool leaves
    }
    int told[2];
    ASSERT_EQ(::pipe(told), 0);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        auto opened = RecordFile::Open(path);
        if (opened.Ok() && opened.value->Append(Failed("slot1", "gone")).Ok()) {
            [[maybe_unused]] ssize_t n = ::write(told[1], "y", 1);
        }
        ::pause();
        ::_exit(0);
    }
    ::close(told[1]);
    char byte = 0;
    ASSERT_EQ(::read(told[0], &byte, 1), 1);
    ::kill(writer, SIGKILL);  // the moment it said the board's line, as a crash would
    ::waitpid(writer, nullptr, 0);
    ::close(told[0]);

    const std::string text = Slurp(path);
    const size_t firstEnd = text.find('\n');
    ASSERT_NE(firstEnd, std::string::npos);
    EXPECT_EQ(text.substr(0, firstEnd), "{\"slot\":\"half a li");
    EXPECT_EQ(text.substr(firstEnd + 1, 30), "{\"slot\":\"slot1\",\"identity\":\"00");
    EXPECT_EQ(text.back(), '\n');
}

TEST(Record, AFileThatCannotBeKeptIsAnErrorAtOnce) {
    TempDir dir;
    for (const std::string& path : {dir.File("no/such/folder/record.jsonl"), dir.File("")}) {
        auto opened = RecordFile::Open(path);
        EXPECT_EQ(opened.outcome.kind, FailureKind::File) << path;
        EXPECT_NE(opened.outcome.message.find("cannot keep the record in " + path), std::string::npos)
            << opened.outcome.message;
    }
}

TEST(Junit, TheReportIsWellFormedWithOneCasePerBoard) {
    TempDir dir;
    const std::string path = dir.File("station.xml");
    BoardRecord ok = Failed("1-2", "");
    ok.ok = true;
    JunitRun run;
    run.seconds = 12;
    run.toolVersion = "0.1.0";
    ASSERT_TRUE(WriteJunitReport(path, run, {ok, Failed("/dev/ttyUSB1", "verify <failed> & \"more\"\x02")}).Ok());

    const std::string program =
        "import sys, xml.etree.ElementTree as E\n"
        "s = E.parse(sys.argv[1]).getroot().find(\"testsuite\")\n"
        "print(s.get(\"tests\"), s.get(\"failures\"))\n"
        "for c in s.findall(\"testcase\"):\n"
        "  f = c.find(\"failure\")\n"
        "  print(c.get(\"classname\"), c.get(\"name\"), c.get(\"time\"), ascii(None if f is None else "
        "f.get(\"message\")))\n";
    EXPECT_EQ(Python(program, path),
              "2 1\n"
              "slot 1-2 00c0ffee 2.500 None\n"
              "slot /dev/ttyUSB1 00c0ffee 2.500 'verify <failed> & \"more\"\\ufffd'\n");

    // Whole or not at all: a report that cannot be written leaves nothing behind.
    EXPECT_FALSE(WriteJunitReport(dir.File("missing/station.xml"), run, {ok}).Ok());
    EXPECT_FALSE(fs::exists(dir.File("missing")));
}

TEST(LineFigures, CountsStagesAndReasons) {
    LineFigures figures;
    BoardRecord ok = Failed("a", "");
    ok.ok = true;
    ok.stages = {{"Downloading", 1.0}, {"Flash Program", 3.0}};
    figures.Add(ok);
    ok.stages = {{"Downloading", 2.0}, {"Flash Program", 1.0}};
    figures.Add(ok);
    BoardRecord failed = Failed("b", "no answer");
    failed.stages = {{"Downloading", 3.0}};
    figures.Add(failed);
    figures.Add(Failed("c", "verify error"));
    figures.Add(Failed("d", "no answer"));

    const std::vector<std::string> lines = figures.SummaryLines(std::chrono::seconds(1800));
    const std::vector<std::string> expected = {
        "Downloading: mean 2.00 s, worst 3.00 s",  // 1, 2, 3, 2, 2
        "Flash Program: mean 2.00 s, worst 3.00 s",
        "Flash Erase: mean 0.50 s, worst 0.50 s",
        "failed 2x: no answer",
        "failed 1x: verify error",
        "boards: 5, passed: 2, failed: 3, units per hour: 10.0",
    };
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace sealbench
