// sealbench-cli station against boards that arrive and leave as on a line: real
// vireo-sim processes whose ptys are linked to the slots' paths and unlinked again,
// a virtual board's USB socket in a BOOTWIRE_USB_SIM folder, a jig on RFC 2217;
// and, as witnesses that nothing was sent, a pty and a socket on places no slot names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/unique_fd.h"
#include "program_process.h"
#include "sim_process.h"
#include "test_images.h"

namespace {

using sealtest::ProgramProcess;
using sealtest::SimProcess;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kEventLimit = 60s;
constexpr auto kExitLimit = std::chrono::seconds(60);
constexpr const char* kProgramError = "0x00B20000";  // the flash library's programming error

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Line : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sealbench-line-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        fs::create_directory(Path("usb"));
        ::setenv("BOOTWIRE_USB_SIM", Path("usb").c_str(), 1);
        image_ = sealtest::NoiseImage(0x6000, 7);
        Write("image.bin", image_);
    }
    void TearDown() override {
        station_.reset();
        boards_.clear();
        ::unsetenv("BOOTWIRE_USB_SIM");
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // A board of its own process, started with `extra`; nullptr (and a failure) when it did not start.
    SimProcess* Board(std::vector<std::string> extra) {
        boards_.push_back(std::make_unique<SimProcess>("VireoC_TO2", std::move(extra)));
        EXPECT_TRUE(boards_.back()->ok()) << boards_.back()->error();
        return boards_.back()->ok() ? boards_.back().get() : nullptr;
    }
    // The board plugged into a serial slot: its pty appears at the slot's path.
    void PlugIn(const SimProcess& board, const std::string& slot) {
        ASSERT_EQ(::symlink(board.serial().c_str(), Path(slot).c_str()), 0);
    }

    ProgramProcess& Station(std::vector<std::string> args, const std::string& image = "image.bin") {
        args.insert(args.begin(), {"station", Path(image), "--cpu", "VireoC_TO2", "--progress", "plain"});
        station_ = std::make_unique<ProgramProcess>(SEALBENCH_CLI_PATH, std::move(args));
        EXPECT_TRUE(station_->Started());
        return *station_;
    }

    // The flash a board holds, at the image's length, once it has been stopped.
    std::vector<uint8_t> Flash(SimProcess& board, const std::string& dump) {
        EXPECT_EQ(board.Stop(), 0);
        std::vector<unsigned char> bytes = sealtest::ReadFile(dump);
        bytes.resize(std::min(bytes.size(), image_.size()));
        return {bytes.begin(), bytes.end()};
    }

    std::string dir_;
    std::vector<uint8_t> image_;
    std::vector<std::unique_ptr<SimProcess>> boards_;
    std::unique_ptr<ProgramProcess> station_;
};

TEST_F(Line, EachArrivalIsFlashedOnceAFaultFailsAloneAndUnnamedPlacesAreUntouched) {
    SimProcess* first = Board({"--uid", "0a0a0a0a", "--dump-flash", Path("first.bin"), "--stats", Path("first.json")});
    SimProcess* faulty = Board({"--fault", std::string("status-word:2:") + kProgramError});
    SimProcess* usb =
        Board({"--usb-socket", Path("usb/u1.sock"), "--dump-flash", Path("u1.bin"), "--stats", Path("u1.json")});
    ASSERT_TRUE(first && faulty && usb);
    PlugIn(*first, "a");
    PlugIn(*faulty, "b");

    // Witnesses on places no slot names: a pty linked beside the slots, a USB socket in the folder.
    sealbench::UniqueFd pty(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(pty.Valid() && ::grantpt(pty.Get()) == 0 && ::unlockpt(pty.Get()) == 0);
    ASSERT_EQ(::symlink(::ptsname(pty.Get()), Path("c").c_str()), 0);
    sealbench::UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", Path("usb/other.sock").c_str());
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.Get(), 4), 0);

    ProgramProcess& station = Station(
        {"--slot", Path("a"), "--slot", Path("b"), "--slot", "sim:u1", "--count", "4", "--identity", "B800C000:4"});
    ASSERT_TRUE(station.WaitForLines(3, kEventLimit)) << station.Stdout() << station.Stderr();
    EXPECT_TRUE(station.WaitForStdout(Path("a") + ": OK 0a0a0a0a\n", 0ms)) << station.Stdout();
    EXPECT_TRUE(station.WaitForStdout(Path("b") + ": FAILED - Flashing Program Error\n", 0ms)) << station.Stdout();
    EXPECT_TRUE(station.WaitForStdout("sim:u1: OK 00000000\n", 0ms)) << station.Stdout();

    // The first board leaves slot a and, once the slot is seen empty, another takes its
    // place; the USB board stays where it is.
    ASSERT_EQ(::unlink(Path("a").c_str()), 0);
    ASSERT_TRUE(station.WaitForStderrAfter("boards: 3,", "\n1 waiting |", kEventLimit)) << station.Stderr();
    SimProcess* second = Board({"--uid", "0b0b0b0b"});
    ASSERT_TRUE(second);
    PlugIn(*second, "a");
    EXPECT_EQ(station.Wait(kExitLimit), 1) << station.Stderr();
    const std::vector<std::string> lines = station.StdoutLines();
    ASSERT_EQ(lines.size(), 5u) << station.Stdout();
    EXPECT_EQ(lines[3], Path("a") + ": OK 0b0b0b0b");
    EXPECT_EQ(lines[4].rfind("boards: 4, passed: 3, failed: 1", 0), 0u) << lines[4];
    EXPECT_NE(station.Stderr().find("failed 1x: Flashing Program Error"), std::string::npos) << station.Stderr();

    // Each board that stayed was flashed once, with the image.
    EXPECT_EQ(Flash(*first, Path("first.bin")), image_);
    EXPECT_EQ(Flash(*usb, Path("u1.bin")), image_);
    EXPECT_EQ(Count(Slurp(Path("first.json")), "\"entry\""), 1u) << Slurp(Path("first.json"));
    EXPECT_EQ(Count(Slurp(Path("u1.json")), "\"entry\""), 1u) << Slurp(Path("u1.json"));
    char byte;
    EXPECT_EQ(::read(pty.Get(), &byte, 1), -1) << "the unnamed pty was written to";
    EXPECT_EQ(::accept(listener.Get(), nullptr, nullptr), -1) << "the unnamed USB board was connected to";
}

TEST_F(Line, TheRecordHoldsEveryReportedBoardAfterTheStationIsKilled) {
    SimProcess* one = Board({"--uid", "01"});
    SimProcess* two = Board({"--uid", "02"});
    // Still downloading when the station dies: it goes quiet part of the way through.
    SimProcess* slow = Board({"--pace", "--fault", "silent-after:8000"});
    ASSERT_TRUE(one && two && slow);
    PlugIn(*one, "a");
    PlugIn(*two, "b");
    PlugIn(*slow, "c");
    ProgramProcess& station = Station({"--slot", Path("a"), "--slot", Path("b"), "--slot", Path("c"), "--record",
                                       Path("record.jsonl"), "--identity", "B800C000:1"});
    ASSERT_TRUE(station.WaitForLines(2, kEventLimit)) << station.Stdout() << station.Stderr();
    station.Signal(SIGKILL);
    EXPECT_EQ(station.Wait(kExitLimit), 128 + SIGKILL);

    // Read back by a real JSON parser: a whole object a line, every board whose line was printed.
    const std::string program =
        "import json,sys\n"
        "for line in open(sys.argv[1], encoding=\"utf-8\"):\n"
        "    r = json.loads(line)\n"
        "    print(r[\"identity\"], r[\"result\"], repr(r[\"reason\"]), r[\"bytes\"], len(r[\"image_sha256\"]),\n"
        "          r[\"started\"].endswith(\"Z\"), r[\"seconds\"] > 0, \"Flash Program\" in r[\"stages\"])\n";
    const std::string command = "/usr/bin/python3 -c '" + program + "' " + Path("record.jsonl") + " | sort";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string parsed;
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) parsed.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << parsed;
    const std::string bytes = std::to_string(image_.size());
    EXPECT_EQ(parsed, "01 OK '' " + bytes + " 64 True True True\n02 OK '' " + bytes + " 64 True True True\n");
}

TEST_F(Line, TheJigsBoardSeesTheResetSequenceAndStartsItsFirmwareAfter) {
    SimProcess* jig = Board({"--jig", "--rfc2217", "0", "--uid", "c0ffee00"});
    ASSERT_TRUE(jig);
    const std::string announced = jig->Line();
    ASSERT_EQ(announced.rfind("rfc2217: ", 0), 0u) << announced;
    const std::string place = announced.substr(9);
    ProgramProcess& station = Station({"--slot", place, "--count", "1", "--identity", "B800C000:4", "--reset-sequence",
                                       "D0|R1|W20|D1|R0|W20|D0", "--after-sequence", "D0|R1|W10|R0"});
    EXPECT_EQ(station.Wait(kExitLimit), 0) << station.Stderr();
    const std::vector<std::string> lines = station.StdoutLines();
    ASSERT_EQ(lines.size(), 2u) << station.Stdout();
    EXPECT_EQ(lines[0], place + ": OK c0ffee00");
    EXPECT_EQ(lines[1].rfind("boards: 1, passed: 1, failed: 0", 0), 0u) << lines[1];

    // Powered on into its firmware; reset held, the boot-mode pin set, reset let go: the
    // boot ROM flashes; then reset again without the pin, into the firmware just written.
    ASSERT_TRUE(jig->WaitForStderr("RFC 2217 host left")) << jig->Stderr();
    const std::string seen = jig->Stderr();
    const size_t flashed = seen.find("program started");
    ASSERT_NE(flashed, std::string::npos) << seen;
    const size_t held = seen.rfind("jig: RTS on (reset held)", flashed);
    const size_t pin = seen.rfind("jig: DTR on (boot-mode pin set)", flashed);
    const size_t intoRom = seen.rfind("boot ROM waiting for commands", flashed);
    ASSERT_TRUE(held != std::string::npos && pin != std::string::npos && intoRom != std::string::npos) << seen;
    EXPECT_LT(held, pin);
    EXPECT_LT(pin, intoRom);
    EXPECT_NE(seen.find("the firmware in flash runs", flashed), std::string::npos) << seen;
}

TEST_F(Line, CtrlCMidRunFailsTheBoardAsStoppedNeverOk) {
    SimProcess* paced = Board({"--pace"});
    ASSERT_TRUE(paced);
    PlugIn(*paced, "a");
    // Some ten seconds of download at the line's pace: the stop comes well inside it.
    Write("large.bin", sealtest::NoiseImage(0x20000, 8));
    ProgramProcess& station = Station({"--slot", Path("a")}, "large.bin");
    ASSERT_TRUE(station.WaitForStderr("1 Downloading", kEventLimit)) << station.Stderr();
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(kExitLimit), 1) << station.Stderr();
    const std::vector<std::string> lines = station.StdoutLines();
    ASSERT_EQ(lines.size(), 2u) << station.Stdout();
    EXPECT_EQ(lines[0], Path("a") + ": FAILED - stopped before the board was done");
    EXPECT_EQ(lines[1].rfind("boards: 1, passed: 0, failed: 1", 0), 0u) << lines[1];
}

TEST_F(Line, WhatCannotWorkIsRefusedBeforeAnySlotIsWatched) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const std::string a = Path("a");
    const Case cases[] = {
        {{"--slot", a, "--slot", a + "/../a"}, 2, "two slots at one place"},
        {{"--slot", a, "--identity", "B800C000:41"}, 2, "bad --identity"},
        {{"--slot", a, "--reset-sequence", "D0|X1"}, 2, "--reset-sequence: "},
        {{"--slot", "sim:u1", "--after-sequence", "R1"}, 2, "every slot here is USB"},
        {{"--slot", "sim:u1", "--fast"}, 2, "--fast: "},
        {{"--slot", a, "--count", "0"}, 2, "--count"},
        {{"--slot", a, "--flash-type", "user", "--flash-lib", Path("none.bin")}, 1, "none.bin cannot be read"},
        {{"--slot", a, "--record", Path("no/such/folder/record.jsonl")}, 1, "cannot keep the record"},
    };
    for (const Case& c : cases) {
        ProgramProcess& station = Station(c.args);
        EXPECT_EQ(station.Wait(kExitLimit), c.status) << c.says << "\n" << station.Stderr();
        EXPECT_NE(station.Stderr().find(c.says), std::string::npos) << station.Stderr();
        EXPECT_EQ(station.Stdout(), "") << c.says;
    }
}

}  // namespace
