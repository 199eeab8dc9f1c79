// The Telnet and RFC 2217 codec byte for byte, and the parsing of network port
// addresses, without any connection.
#include "telnet_codec.h"

#include <gtest/gtest.h>

#include "net_address.h"

namespace {

using namespace bootwire;
using namespace bootwire::telnet;

Bytes Feed(Decoder& decoder, const Bytes& in, std::vector<Command>* commands = nullptr) {
    Bytes data;
    std::vector<Command> local;
    decoder.Feed(in.data(), in.size(), data, commands ? *commands : local);
    return data;
}

TEST(TelnetCodec, EscapingDoublesEveryIac) {
    Bytes out;
    const Bytes in{0x01, 0xFF, 0xFF, 0x02, 0xFF};
    AppendEscaped(in.data(), in.size(), out);
    EXPECT_EQ(out, (Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0xFF, 0xFF}));
}

TEST(TelnetCodec, RequestsAreEscapedInsideSubnegotiations) {
    EXPECT_EQ(SetBaudRate(115200), (Bytes{255, 250, 44, 1, 0x00, 0x01, 0xC2, 0x00, 255, 240}));
    // A baud rate with a 0xFF byte must not end the subnegotiation early.
    EXPECT_EQ(SetBaudRate(0x0001FF00), (Bytes{255, 250, 44, 1, 0x00, 0x01, 0xFF, 0xFF, 0x00, 255, 240}));
    EXPECT_EQ(SetByte(ComPort::SetParity, kParityOdd), (Bytes{255, 250, 44, 3, 2, 255, 240}));
    EXPECT_EQ(SetByte(ComPort::PurgeData, kPurgeBoth), (Bytes{255, 250, 44, 12, 3, 255, 240}));
}

TEST(TelnetCodec, DecoderSplitsDataFromCommandsAcrossAnyCut) {
    // What ser2net sends: negotiations, a COM-port answer with an escaped 0xFF, data with escaped 0xFF.
    const Bytes stream{255,  251, 3,    0x41, 255, 255,  255, 250, 44,  101, 0x00, 0x01,
                       0xFF, 255, 0x00, 255,  240, 0x42, 255, 241, 255, 255, 0x43};
    const Bytes expectedData{0x41, 0xFF, 0x42, 0xFF, 0x43};
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        Decoder decoder;
        std::vector<Command> commands;
        Bytes data;
        decoder.Feed(stream.data(), cut, data, commands);
        decoder.Feed(stream.data() + cut, stream.size() - cut, data, commands);
        ASSERT_EQ(data, expectedData) << "cut at " << cut;
        ASSERT_EQ(commands.size(), 2u) << "cut at " << cut;
        EXPECT_FALSE(commands[0].subnegotiation);
        EXPECT_EQ(commands[0].verb, kWill);
        EXPECT_EQ(commands[0].option, kOptionSuppressGoAhead);
        auto answer = AnswerOf(commands[1]);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->command, ComPort::SetBaudRate);
        EXPECT_EQ(BaudOf(answer->value), 0x0001FF00u);
    }
}

TEST(TelnetCodec, DecoderSurvivesMalformedInput) {
    Decoder decoder;
    std::vector<Command> commands;
    // A subnegotiation that never sends SE ends with the next command; a long one is capped.
    Bytes in{255, 250, 44, 105, 1, 255, 251, 0, 0x55};
    EXPECT_EQ(Feed(decoder, in, &commands), Bytes{0x55});
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_TRUE(commands[0].subnegotiation);
    EXPECT_EQ(commands[1].verb, kWill);

    Bytes longSub{255, 250, 44};
    longSub.insert(longSub.end(), 5000, 0x11);
    longSub.insert(longSub.end(), {255, 240, 0x66});
    commands.clear();
    EXPECT_EQ(Feed(decoder, longSub, &commands), Bytes{0x66});
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_LE(commands[0].payload.size(), 512u);
    // Answers that are not COM-port answers are none.
    EXPECT_FALSE(AnswerOf(Command{true, 0, 44, {7, 1}}));
    EXPECT_FALSE(AnswerOf(Command{true, 0, 24, {101, 0, 1, 0xC2, 0}}));
    EXPECT_FALSE(BaudOf({1, 2, 3}));
}

TEST(TelnetCodec, OptionsAgreeWithSer2netAndRefuseTheRest) {
    Options options;
    EXPECT_EQ(options.Opening(), (Bytes{255, 251, 0, 255, 251, 3, 255, 251, 44, 255, 253, 0, 255, 253, 3}));
    EXPECT_FALSE(options.Settled());
    // ser2net's opening, in its order: no answer to what we asked for, a refusal of echo.
    EXPECT_TRUE(options.Answer(kWill, kOptionSuppressGoAhead).empty());
    EXPECT_TRUE(options.Answer(kDo, kOptionSuppressGoAhead).empty());
    EXPECT_EQ(options.Answer(kWill, kOptionEcho), Negotiation(kDont, kOptionEcho));
    EXPECT_TRUE(options.Answer(kDont, kOptionEcho).empty());
    EXPECT_TRUE(options.Answer(kDo, kOptionBinary).empty());
    EXPECT_TRUE(options.Answer(kWill, kOptionBinary).empty());
    EXPECT_FALSE(options.ComPortAgreed());
    EXPECT_TRUE(options.Answer(kDo, kOptionComPort).empty());
    EXPECT_TRUE(options.ComPortAgreed());
    EXPECT_TRUE(options.Settled());
    EXPECT_FALSE(options.Refused());
    // Repeats of agreed options get no answer, so the two sides never loop.
    EXPECT_TRUE(options.Answer(kDo, kOptionSuppressGoAhead).empty());
    // Unknown options are refused; turning off what was agreed is acknowledged.
    EXPECT_EQ(options.Answer(kDo, 24), Negotiation(kWont, 24));
    EXPECT_EQ(options.Answer(kWont, kOptionSuppressGoAhead), Negotiation(kDont, kOptionSuppressGoAhead));
    EXPECT_FALSE(options.Refused());
    EXPECT_EQ(options.Answer(kDont, kOptionBinary), Negotiation(kWont, kOptionBinary));
    EXPECT_TRUE(options.Refused());
}

TEST(TelnetCodec, AServerWithoutComPortControlIsARefusal) {
    Options options;
    options.Opening();
    EXPECT_TRUE(options.Answer(kDont, kOptionComPort).empty());
    EXPECT_TRUE(options.Refused());
    EXPECT_FALSE(options.ComPortAgreed());
}

TEST(NetworkAddress, ParsesBothKindsAndRejectsWhatCannotBeUsed) {
    std::string why;
    auto a = ParseNetworkAddress("rfc2217://lab-3.example:2001", &why);
    ASSERT_TRUE(a) << why;
    EXPECT_EQ(a->kind, NetworkKind::Rfc2217);
    EXPECT_EQ(a->host, "lab-3.example");
    EXPECT_EQ(a->port, "2001");
    auto b = ParseNetworkAddress("SOCKET://[::1]:0080/", &why);
    ASSERT_TRUE(b) << why;
    EXPECT_EQ(b->kind, NetworkKind::RawSocket);
    EXPECT_EQ(b->host, "::1");
    EXPECT_EQ(b->port, "80");

    for (const char* bad :
         {"rfc2217://host", "rfc2217://:2001", "rfc2217://host:0", "rfc2217://host:65536", "rfc2217://host:20x1",
          "telnet://host:23", "rfc2217://host:2001?timeout=3", "socket://[::1:80", "socket://a:b:80"}) {
        why.clear();
        EXPECT_FALSE(ParseNetworkAddress(bad, &why)) << bad;
        EXPECT_NE(why.find(bad), std::string::npos) << why;
        EXPECT_NE(why.find("rfc2217://HOST:PORT"), std::string::npos) << why;
    }
    EXPECT_TRUE(LooksLikeNetworkAddress("telnet://host:23"));
    EXPECT_FALSE(LooksLikeNetworkAddress("/dev/ttyUSB0"));
    EXPECT_FALSE(LooksLikeNetworkAddress("3"));
    EXPECT_FALSE(LooksLikeNetworkAddress("./odd://name"));
}

}  // namespace
