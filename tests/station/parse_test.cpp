// What a station parses before it touches a board: the DTR/RTS sequences, the
// slots' places and the identity's address; and the digest of its image.
#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "station/control_sequence.h"
#include "station/identity.h"
#include "station/sha256.h"
#include "station/slot_place.h"
#include "station/text_forms.h"

namespace sealbench {
namespace {

using Kind = ControlStep::Kind;

// Steps as "D1 R0 W100" for comparison.
std::string Spelled(const ControlSequence& steps) {
    std::string text;
    for (const ControlStep& s : steps) {
        if (!text.empty()) text += ' ';
        text += s.kind == Kind::Wait ? "W" + std::to_string(s.wait.count())
                                     : std::string(s.kind == Kind::Dtr ? "D" : "R") + (s.on ? "1" : "0");
    }
    return text;
}

TEST(ControlSequence, ParsesStepsAndNamesTheBadOne) {
    std::string tooMany = "D0";
    for (int i = 1; i < 65; ++i) tooMany += "|D0";
    struct Case {
        std::string text;
        std::string steps;  // as Spelled, when it parses
        std::string error;  // a piece of the message, when it does not
    } cases[] = {
        {"D0|R1|W100|D1|R0|W50|D0", "D0 R1 W100 D1 R0 W50 D0", ""},
        {"r1|w0|d1", "R1 W0 D1", ""},
        {"W10000", "W10000", ""},
        {"", "", "the sequence is empty"},
        {"D0|X5", "", "bad step 2 \"X5\" in the sequence \"D0|X5\""},
        {"D0||R1", "", "bad step 2 \"\""},
        {"D2", "", "a step is D0, D1 (DTR), R0, R1 (RTS) or W<ms>"},
        {"D0|W", "", "bad step 2 \"W\""},
        {"W10001", "", "a wait is W followed by 0 to 10000 milliseconds"},
        {"W-5", "", "bad step 1 \"W-5\""},
        {"W10000|W10000|W10000|W1", "", "waits 30001 ms in all; at most 30000"},
        {tooMany, "", "more than 64 steps"},
    };
    for (const Case& c : cases) {
        Result<ControlSequence> parsed = ParseControlSequence(c.text);
        if (c.error.empty()) {
            ASSERT_TRUE(parsed.Ok()) << c.text << ": " << parsed.outcome.message;
            EXPECT_EQ(Spelled(parsed.value), c.steps) << c.text;
        } else {
            EXPECT_EQ(parsed.outcome.kind, FailureKind::Input) << c.text;
            EXPECT_NE(parsed.outcome.message.find(c.error), std::string::npos) << parsed.outcome.message;
            EXPECT_TRUE(parsed.value.empty()) << c.text;
        }
    }
}

TEST(SlotPlace, TheTextTellsTheKindAndOnePlaceIsOneSlot) {
    const std::pair<std::string, SlotPlace::Kind> kinds[] = {
        {"/dev/ttyUSB0", SlotPlace::Kind::Serial},
        {"/tmp/slots/not-yet-there", SlotPlace::Kind::Serial},
        {"rfc2217://127.0.0.1:4000", SlotPlace::Kind::Serial},
        {"COM3", SlotPlace::Kind::Serial},
        {"1-2", SlotPlace::Kind::Usb},
        {"3-1.4.2", SlotPlace::Kind::Usb},
        {"Port_#0002.Hub_#0001", SlotPlace::Kind::Usb},
        {"pci0.1400-3.2", SlotPlace::Kind::Usb},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)", SlotPlace::Kind::Usb},
        {"pci0.1400-", SlotPlace::Kind::Serial},
        {"1-2.", SlotPlace::Kind::Serial},
        {"sim:bench4", SlotPlace::Kind::VirtualUsb},
        {"sim:127.0.0.1:5000", SlotPlace::Kind::VirtualUsb},
    };
    for (const auto& [text, kind] : kinds) {
        Result<SlotPlace> place = ParseSlotPlace(text);
        ASSERT_TRUE(place.Ok()) << text;
        EXPECT_EQ(place.value.kind, kind) << text;
    }
    for (const char* bad : {"", "sim:", "sim:a/b"}) EXPECT_FALSE(ParseSlotPlace(bad).Ok()) << bad;

    EXPECT_TRUE(ParseSlotPlaces({"/dev/ttyUSB0", "/dev/ttyUSB1", "1-2", "sim:a"}).Ok());
    for (const std::vector<std::string>& twice :
         std::vector<std::vector<std::string>>{{"/dev/ttyUSB0", "/dev/../dev/ttyUSB0"},
                                               {"sim:a", "sim:a"},
                                               {"1-2.3", "1-2.3"},
                                               {"COM3", "com3"},
                                               {"pci0.1400-3.2", "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)"}}) {
        Result<std::vector<SlotPlace>> places = ParseSlotPlaces(twice);
        EXPECT_FALSE(places.Ok()) << twice[1];
        EXPECT_NE(places.outcome.message.find("two slots at one place: \"" + twice[0] + "\" and \"" + twice[1] + "\""),
                  std::string::npos)
            << places.outcome.message;
    }
}

TEST(Identity, AddressAndLengthAreHexLikeEveryOtherOnTheCommandLine) {
    Result<IdentitySpec> spec = ParseIdentitySpec("0xB800C000:40");
    ASSERT_TRUE(spec.Ok()) << spec.outcome.message;
    EXPECT_EQ(spec.value.address, 0xB800C000u);
    EXPECT_EQ(spec.value.length, 64u);
    for (const char* bad :
         {"B800C000", "B800C000:0", "B800C000:41", "B800C000:", ":10", "G0:10", "FFFFFFF0:11", "B800C000:10:2"}) {
        Result<IdentitySpec> refused = ParseIdentitySpec(bad);
        EXPECT_EQ(refused.outcome.kind, FailureKind::Input) << bad;
    }
    EXPECT_EQ(ChooseIdentity("00aa", "SN1", "1-2"), "00aa");
    EXPECT_EQ(ChooseIdentity("", "SN1", "1-2"), "SN1");
    EXPECT_EQ(ChooseIdentity("", "", "1-2"), "1-2");
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(Sha256, Fips180Vectors) {
    EXPECT_EQ(Sha256Hex(Bytes("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex(Bytes("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(
        Sha256Hex(Bytes("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
                        "nopqrsmnopqrstnopqrstu")),
        "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    // A million "a", fed in pieces that cut the blocks anywhere.
    Sha256 sha;
    const std::vector<uint8_t> a(1000, 'a');
    for (size_t done = 0, piece = 1; done < 1'000'000; piece = piece % 997 + 1) {
        const size_t n = std::min(piece, 1'000'000 - done);
        sha.Update(std::span(a).first(n));
        done += n;
    }
    EXPECT_EQ(LowerHex(sha.Finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace sealbench
