// The board's smaller parts: fault texts, the line check, the pacer's schedule,
// the sparse memory.
#include <gtest/gtest.h>
#include <termios.h>

#include <vector>

#include "core/cpu.h"
#include "core/faults.h"
#include "core/line_check.h"
#include "core/memory.h"
#include "core/pacer.h"

namespace {

using vsim::FaultParse;

TEST(Faults, LinkFaultsParseStrictly) {
    vsim::LinkFaults f;
    std::string error;
    EXPECT_EQ(vsim::ParseLinkFault("reg-word:3", &f, &error), FaultParse::Applied);
    EXPECT_EQ(vsim::ParseLinkFault("reg-word:1:0x12", &f, &error), FaultParse::Applied);
    EXPECT_EQ(f.regWords, (std::map<uint64_t, uint32_t>{{1, 0x12}, {3, 0xFFFFFFFF}}));
    EXPECT_EQ(vsim::ParseLinkFault("silent-after:0", &f, &error), FaultParse::Applied);
    EXPECT_EQ(f.silentAfter, 0u);
    EXPECT_EQ(vsim::ParseLinkFault("status-silent:2", &f, &error), FaultParse::Applied);
    EXPECT_EQ(f.statusSilent, std::set<uint64_t>{2});
    EXPECT_EQ(vsim::ParseLinkFault("status-word:4:00B40000", &f, &error), FaultParse::Applied);
    EXPECT_EQ(f.statusWords, (std::map<uint64_t, uint32_t>{{4, 0x00B40000}}));
    EXPECT_EQ(vsim::ParseLinkFault("corrupt:60000", &f, &error), FaultParse::Applied);
    EXPECT_EQ(vsim::ParseLinkFault("corrupt:7", &f, &error), FaultParse::Applied);
    EXPECT_EQ(f.corruptHostBytes, (std::set<uint64_t>{7, 60000}));
    EXPECT_EQ(vsim::ParseLinkFault("corrupt-answer:9", &f, &error), FaultParse::Applied);
    EXPECT_EQ(f.corruptAnswerBytes, std::set<uint64_t>{9});
    EXPECT_EQ(vsim::ParseLinkFault("line-limit:460800", &f, &error), FaultParse::Applied);
    EXPECT_EQ(f.lineLimit, 460800u);

    for (const char* bad : {"reg-word",
                            "reg-word:0",
                            "reg-word:x",
                            "reg-word:1:",
                            "reg-word:1:123456789",
                            "reg-word:1:2:3",
                            "reg-word:-1",
                            "reg-word: 1",
                            "silent-after",
                            "silent-after:1:2",
                            "silent-after:+5",
                            "status-silent:0",
                            "status-word:1",
                            "status-word:1:0x",
                            "status-word:1:zz",
                            "status-word:99999999999999999999:1",
                            "corrupt",
                            "corrupt:0",
                            "corrupt:1:2",
                            "corrupt-answer:x",
                            "line-limit",
                            "line-limit:0",
                            "line-limit:200000000"}) {
        SCOPED_TRACE(bad);
        vsim::LinkFaults untouched;
        error.clear();
        EXPECT_EQ(vsim::ParseLinkFault(bad, &untouched, &error), FaultParse::Malformed);
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(untouched.regWords.empty() && !untouched.silentAfter && untouched.statusSilent.empty() &&
                    untouched.statusWords.empty() && untouched.corruptHostBytes.empty() &&
                    untouched.corruptAnswerBytes.empty() && !untouched.lineLimit);
    }
    EXPECT_EQ(vsim::ParseLinkFault("erase-stuck:A0000000", &f, &error), FaultParse::NotMine);
    EXPECT_EQ(vsim::ParseLinkFault("", &f, &error), FaultParse::NotMine);
}

TEST(Faults, HexWordsFollowTheProjectsForm) {
    uint32_t v = 0;
    EXPECT_TRUE(vsim::ParseHexWord("0XaBcD", &v));
    EXPECT_EQ(v, 0xABCDu);
    EXPECT_TRUE(vsim::ParseHexWord("FFFFFFFF", &v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
    for (const char* bad : {"", "0x", "x1", "123456789", "12 ", "-1", "g"})
        EXPECT_FALSE(vsim::ParseHexWord(bad, &v)) << bad;
}

termios Line(speed_t speed, bool twoStop) {
    termios t{};
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (twoStop) t.c_cflag |= CSTOPB;
    return t;
}

TEST(LineCheck, ReportsAMismatchOncePerChange) {
    vsim::LineCheck to1(vsim::Cpu::VireoC_TO1);
    EXPECT_FALSE(to1.Check(Line(B115200, true)));
    auto m = to1.Check(Line(B115200, false));
    ASSERT_TRUE(m);
    EXPECT_NE(m->find("1 stop bit"), std::string::npos);
    EXPECT_NE(m->find("VireoC_TO1"), std::string::npos);
    EXPECT_FALSE(to1.Check(Line(B115200, false))) << "same settings, no second report";
    EXPECT_TRUE(to1.Check(Line(B9600, false)));
    EXPECT_FALSE(to1.Check(Line(B115200, true)));

    vsim::LineCheck b(vsim::Cpu::VireoB);
    EXPECT_FALSE(b.Check(Line(B115200, false)));
    auto speed = b.Check(Line(B38400, false));
    ASSERT_TRUE(speed);
    EXPECT_NE(speed->find("38400 baud"), std::string::npos);
    EXPECT_TRUE(vsim::LineCheck(vsim::Cpu::VireoC_TO2).Check(Line(B115200, true)));
}

TEST(LineCheck, ComparesTheHostWithTheUartsCurrentRate) {
    vsim::LineCheck check(vsim::Cpu::VireoC_TO2);
    EXPECT_FALSE(check.Check(Line(B921600, false), 921600));
    auto m = check.Check(Line(B115200, false), 921600);
    ASSERT_TRUE(m);
    EXPECT_NE(m->find("UART runs at 921600 baud"), std::string::npos) << *m;
    EXPECT_NE(m->find("garbled"), std::string::npos) << *m;
    EXPECT_TRUE(vsim::RatesMatch(115200, 115200));
    EXPECT_TRUE(vsim::RatesMatch(115200, 117000)) << "within a UART's tolerance";
    EXPECT_FALSE(vsim::RatesMatch(115200, 121000));
    EXPECT_FALSE(vsim::RatesMatch(921600, 0));
}

TEST(LineNoise, NothingThatCrossesAMismatchedLineArrivesIntact) {
    std::vector<uint8_t> sent(800);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 37);
    vsim::LineNoise noise;
    // Same rate over a cable that cannot carry it: as many bytes, all of them wrong.
    auto same = noise.Garble(sent.data(), sent.size(), 921600, 921600);
    ASSERT_EQ(same.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_NE(same[i], sent[i]) << i;
    // A sender eight times faster: about one byte in eight is framed at all.
    auto fast = noise.Garble(sent.data(), sent.size(), 921600, 115200);
    EXPECT_EQ(fast.size(), sent.size() / 8);
    // A slower sender: a byte (of garbage) for each byte.
    auto slow = noise.Garble(sent.data(), sent.size(), 115200, 921600);
    EXPECT_EQ(slow.size(), sent.size());
    EXPECT_NE(slow, sent);
}

TEST(Pacer, SchedulesByTotalBytes) {
    using namespace std::chrono;
    vsim::Pacer pacer(115200, 10);  // 11520 bytes a second
    auto t0 = vsim::Pacer::Clock::time_point{} + hours(1);
    EXPECT_EQ(pacer.Allowed(t0), 0u);
    EXPECT_EQ(pacer.Allowed(t0 + seconds(1)), 11520u);
    pacer.Took(11000);
    EXPECT_EQ(pacer.Allowed(t0 + seconds(1)), 520u);
    // Late wake-ups are caught up, never exceeded: after 10 s exactly 115200 bytes in all.
    pacer.Took(520);
    EXPECT_EQ(pacer.Allowed(t0 + seconds(10)), 115200u - 11520u);
    pacer.Took(115200 - 11520);
    EXPECT_EQ(pacer.When(11520), t0 + seconds(11));
    // After the line ran dry, idle time is not paid back as a burst.
    pacer.Idle();
    auto t1 = t0 + seconds(100);
    EXPECT_EQ(pacer.Allowed(t1), 0u);
    EXPECT_EQ(pacer.Allowed(t1 + milliseconds(100)), 1152u);

    vsim::Pacer odd(115200, 12);  // 8O2: 9600 bytes a second
    EXPECT_EQ(odd.Allowed(t0), 0u);
    EXPECT_EQ(odd.Allowed(t0 + seconds(2)), 19200u);
    EXPECT_LE(odd.When(1), t0 + microseconds(105));
    EXPECT_GE(odd.When(1), t0 + microseconds(104));
}

TEST(Memory, SparseSpaceAndRamMeetCleanly) {
    vsim::BusMemory bus(0x80000000, 64u << 20, nullptr);
    std::vector<uint8_t> data(10000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    // Straddles the end of RAM into the sparse space.
    uint32_t at = 0x80000000 + (64u << 20) - 5000;
    EXPECT_EQ(bus.Load(at, data.data(), data.size()), 0u);
    std::vector<uint8_t> back(data.size());
    bus.Read(at, back.data(), back.size(), 4);
    EXPECT_EQ(back, data);
    EXPECT_EQ(bus.Registers().PageCount(), 2u);
    // Wraps at the top of the address space.
    bus.Load(0xFFFFFFFE, data.data(), 4);
    EXPECT_EQ(bus.ReadWord(0xFFFFFFFE) & 0xFFFF, uint32_t(data[0] | data[1] << 8));
    EXPECT_EQ(bus.ReadWord(0x00000000) & 0xFFFF, uint32_t(data[2] | data[3] << 8));
}

TEST(Cpu, TraitsOfEachProcessor) {
    EXPECT_EQ(vsim::ParseCpu("VireoB"), vsim::Cpu::VireoB);
    EXPECT_EQ(vsim::ParseCpu("VireoC_TO1"), vsim::Cpu::VireoC_TO1);
    EXPECT_EQ(vsim::ParseCpu("VireoC_TO2"), vsim::Cpu::VireoC_TO2);
    EXPECT_FALSE(vsim::ParseCpu("vireob"));
    EXPECT_EQ(vsim::TraitsOf(vsim::Cpu::VireoB).ramBase, 0xA0000000u);
    EXPECT_EQ(vsim::TraitsOf(vsim::Cpu::VireoB).processorCode, 1);
    EXPECT_EQ(vsim::TraitsOf(vsim::Cpu::VireoC_TO1).bitsPerByte, 12u);
    EXPECT_EQ(vsim::TraitsOf(vsim::Cpu::VireoC_TO2).stopBits, 1u);
}

}  // namespace
