// The station's sequences and identity against the real vireo-sim: a reset
// sequence played through the real RFC 2217 transport puts the jig's board into
// boot mode, a stop ends a wait at once, and the identity is what --uid put there.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>

#include <thread>

#include "sim_process.h"
#include "station/control_sequence.h"
#include "station/identity.h"

namespace sealbench {
namespace {

using sealtest::SimProcess;

bootwire::Link Open(const std::string& port) {
    bootwire::Error error = bootwire::Error::Ok;
    std::string detail;
    auto transport = bootwire::OpenSerial(port, 1, &error, &detail);
    EXPECT_EQ(error, bootwire::Error::Ok) << detail;
    return bootwire::Link(std::move(transport));
}

ControlSequence Parsed(const char* text) {
    Result<ControlSequence> sequence = ParseControlSequence(text);
    EXPECT_TRUE(sequence.Ok()) << sequence.outcome.message;
    return sequence.value;
}

TEST(StationSequence, AResetSequenceBringsTheJigsBoardIntoBootMode) {
    SimProcess sim("VireoC_TO2", {"--rfc2217", "0", "--jig"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string line = sim.Line();
    ASSERT_EQ(line.rfind("rfc2217: ", 0), 0u) << line;
    bootwire::Link link = Open(line.substr(9));
    ASSERT_TRUE(link.IsOpen());
    link.SetReceiveTimeoutLimit(500);

    Outcome played = PlayControlSequence(link, Parsed("D0|R1|W20|D1|R0|W10|D0"), {});
    ASSERT_TRUE(played.Ok()) << played.message;
    uint32_t word = 0;
    ASSERT_EQ(link.GetStatus(&word), bootwire::Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(word, 0x3Cu);
    // The board saw the steps in order: reset held, the boot-mode pin set, reset let go.
    ASSERT_TRUE(sim.WaitForStderr("jig: RTS off (reset released)")) << sim.Stderr();
    const std::string seen = sim.Stderr();
    const size_t held = seen.rfind("jig: RTS on (reset held)");
    const size_t pin = seen.rfind("jig: DTR on (boot-mode pin set)");
    const size_t released = seen.rfind("jig: RTS off (reset released)");
    EXPECT_TRUE(held != std::string::npos && pin != std::string::npos && released != std::string::npos) << seen;
    EXPECT_LT(held, pin);
    EXPECT_LT(pin, released);
}

TEST(StationSequence, AStepALinkCannotDoFailsByNameAndAStopEndsAWait) {
    SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    bootwire::Link link = Open(sim.serial());
    Outcome refused = PlayControlSequence(link, Parsed("W0|R1"), {});
    EXPECT_EQ(refused.kind, FailureKind::Target);
    EXPECT_NE(refused.message.find("step 2 \"R1\" of the sequence failed: cannot set RTS on"), std::string::npos)
        << refused.message;
    EXPECT_NE(refused.message.find("a pseudo-terminal has no DTR/RTS lines"), std::string::npos) << refused.message;

    std::stop_source stop;
    std::jthread stopper([&] { stop.request_stop(); });
    Outcome stopped = PlayControlSequence(link, Parsed("W10000|W10000"), stop.get_token());
    EXPECT_EQ(stopped.kind, FailureKind::Stopped) << stopped.message;
}

TEST(StationIdentity, TheBytesAtTheAddressInLowerCaseHex) {
    SimProcess sim("VireoB", {"--uid", "DEADBEEF0102030405060708090A0B0C"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    bootwire::Link link = Open(sim.serial());
    Result<IdentitySpec> spec = ParseIdentitySpec("D800C000:10");
    ASSERT_TRUE(spec.Ok());
    Result<std::string> identity = ReadIdentity(link, spec.value);
    ASSERT_TRUE(identity.Ok()) << identity.outcome.message;
    EXPECT_EQ(identity.value, "deadbeef0102030405060708090a0b0c");
    // An odd place is read a byte at a time.
    spec = ParseIdentitySpec("D800C001:3");
    identity = ReadIdentity(link, spec.value);
    ASSERT_TRUE(identity.Ok()) << identity.outcome.message;
    EXPECT_EQ(identity.value, "adbeef");
}

}  // namespace
}  // namespace sealbench
