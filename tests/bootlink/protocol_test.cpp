// The protocol against a scripted transport: frames byte for byte, response
// words, payload chunking and image pieces.
#include <gtest/gtest.h>

#include <numeric>

#include "scripted_transport.h"

namespace bootwire {
namespace {

using testing::Bytes;
using testing::ScriptedTransport;

class ProtocolTest : public ::testing::Test {
protected:
    ProtocolTest() {
        auto owned = std::make_unique<ScriptedTransport>();
        t = owned.get();
        link.Attach(std::move(owned));
    }
    ScriptedTransport* t;
    Link link;
};

TEST_F(ProtocolTest, WriteRegisterFrameAndWords) {
    t->AnswerWord(kWordAck);
    t->AnswerWord(kWordRegisterDone);
    ASSERT_EQ(link.WriteRegister(0xB8001004, 0x006AC73A, 32, 0), Error::Ok);
    ASSERT_EQ(t->sends.size(), 1u);
    EXPECT_EQ(t->sends[0], Bytes({0x02, 0x02, 0xB8, 0x00, 0x10, 0x04, 0x20, 0, 0, 0, 0, 0, 0x6A, 0xC7, 0x3A, 0}));
    EXPECT_TRUE(t->answers.empty());
}

TEST_F(ProtocolTest, AddressBitsNeverReachTheCommandCode) {
    t->AnswerWord(kWordAck);
    t->AnswerWord(kWordRegisterDone);
    link.WriteRegister(0xFFFFFFFF, 0xFFFFFFFF, 8, 0);
    EXPECT_EQ(t->sends[0], Bytes({0x02, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x08, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}));
}

TEST_F(ProtocolTest, FirstWordRuleDependsOnProcessorCode) {
    // Codes 0 and 1 let the second word decide.
    for (int code : {0, 1}) {
        t->AnswerWord(0xDEADBEEF);
        t->AnswerWord(kWordRegisterDone);
        EXPECT_EQ(link.WriteRegister(0x1000, 1, 32, code), Error::Ok) << code;
    }
    // Any other code stops at a wrong first word and leaves the second unread.
    t->AnswerWord(0xDEADBEEF);
    t->AnswerWord(kWordRegisterDone);
    EXPECT_EQ(link.WriteRegister(0x1000, 1, 32, 2), Error::UnexpectedWord);
    EXPECT_EQ(t->answers.size(), 4u);
    t->answers.clear();
    // A wrong second word fails whatever the code.
    t->AnswerWord(kWordAck);
    t->AnswerWord(0x12345678);
    EXPECT_EQ(link.WriteRegister(0x1000, 1, 32, 0), Error::UnexpectedWord);
}

TEST_F(ProtocolTest, PartialWordIsNoAnswer) {
    t->AnswerBytes({0x56, 0x78, 0x78});
    EXPECT_EQ(link.WriteRegister(0x1000, 1, 32, 0), Error::Timeout);
    EXPECT_NE(link.ErrorDetail().find("3 of 4"), std::string::npos) << link.ErrorDetail();
    uint32_t word = 0xFFFF;
    EXPECT_NE(link.GetStatus(&word), Error::Ok);
    EXPECT_EQ(word, 0xFFFFu);
}

TEST_F(ProtocolTest, ReadMemoryFrameAndShortRead) {
    t->AnswerWord(kWordAck);
    t->AnswerBytes({1, 2, 3, 4});
    uint8_t out[4] = {};
    ASSERT_EQ(link.ReadData(0xB8001000, out, 4, 32), Error::Ok);
    EXPECT_EQ(t->sends[0], Bytes({0x01, 0x01, 0xB8, 0x00, 0x10, 0x00, 0x20, 0, 0, 0, 0x04, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), Bytes({1, 2, 3, 4}));

    t->AnswerWord(kWordAck);
    t->AnswerBytes({9, 9});
    EXPECT_NE(link.ReadData(0xB8001000, out, 4, 32), Error::Ok);
}

TEST_F(ProtocolTest, StatusQueries) {
    t->AnswerWord(kWordComplete);
    EXPECT_EQ(link.CompleteEndResponse(), Error::Ok);
    EXPECT_EQ(t->sends[0], Bytes({5, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    t->AnswerWord(0x88888889);
    EXPECT_EQ(link.CompleteEndResponse(), Error::UnexpectedWord);

    t->AnswerWord(0x00A20123);
    uint32_t word = 0;
    ASSERT_EQ(link.FlashingStatus(&word), Error::Ok);
    EXPECT_EQ(word, 0x00A20123u);
    EXPECT_EQ(t->sends.back(),
              Bytes({0x94, 0x93, 0, 0, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x90, 0x55, 0xAA, 0x55, 0xAA}));
}

TEST_F(ProtocolTest, HwcHeaderAndEmptyPayload) {
    t->AnswerWord(kWordAck);
    std::vector<uint8_t> hwc(0x1F0, 0x5A);
    ASSERT_EQ(link.FileDownload(FileType::Hwc, 0x80001010, hwc.data(), hwc.size()), Error::Ok);
    EXPECT_EQ(t->sends[0], Bytes({0x04, 0x04, 0x80, 0x00, 0x10, 0x10, 0, 0, 0, 0x01, 0xF0, 0, 0, 0, 0, 0xEE}));
    EXPECT_EQ(t->sends.size(), 2u);

    t->sends.clear();
    t->AnswerWord(kWordAck);
    ASSERT_EQ(link.FileDownload(FileType::Hwc, 0x80001010, nullptr, 0), Error::Ok);
    EXPECT_EQ(t->sends.size(), 1u);
}

TEST_F(ProtocolTest, PayloadIsCutInto64KiBSends) {
    std::vector<uint8_t> data(65537);
    for (size_t size : {size_t{65536}, size_t{65537}}) {
        t->sends.clear();
        t->AnswerWord(kWordAck);
        ASSERT_EQ(link.FileDownload(FileType::Csf, 0x80001200, data.data(), size), Error::Ok);
        std::vector<size_t> lengths;
        for (size_t i = 1; i < t->sends.size(); ++i) {
            lengths.push_back(t->sends[i].size());
        }
        std::vector<size_t> expected = {65536};
        if (size == 65537) {
            expected.push_back(1);
        }
        EXPECT_EQ(lengths, expected);
    }
}

// Headers of an image download: address, size and file type of each.
struct Header {
    uint32_t address, size;
    uint8_t type;
    bool operator==(const Header&) const = default;
};

std::vector<Header> HeadersOf(const ScriptedTransport& t) {
    std::vector<Header> out;
    for (const auto& s : t.sends) {
        if (s.size() == 16 && s[0] == 4 && s[1] == 4) {
            out.push_back({uint32_t(s[2]) << 24 | s[3] << 16 | s[4] << 8 | s[5],
                           uint32_t(s[7]) << 24 | s[8] << 16 | s[9] << 8 | s[10], s[15]});
        }
    }
    return out;
}

TEST_F(ProtocolTest, ImagePiecesAndApplicationHeader) {
    std::vector<uint8_t> image(0x1F0001);
    std::iota(image.begin(), image.end(), 0);
    for (int i = 0; i < 3; ++i) {
        t->AnswerWord(kWordAck);
    }
    size_t observed = 0;
    link.SetSendObserver([&](size_t n) { observed += n; });
    ASSERT_EQ(link.ImageDownload(0xA0004000, image.data(), image.size()), Error::Ok);
    EXPECT_EQ(HeadersOf(*t),
              (std::vector<Header>{
                  {0xA0004000, 0x1F0000, 0x00}, {0xA0004000 + 0x1F0000, 1, 0x00}, {0xA0004000, 1024, 0xAA}}));
    EXPECT_EQ(t->sends.back(), std::vector<uint8_t>(image.begin(), image.begin() + 1024));
    // 31 full sends for the first piece, one byte, the header copy.
    EXPECT_EQ(t->sends.size(), 3 + 31 + 1 + 1u);
    EXPECT_EQ(observed, image.size() + 1024);
    EXPECT_EQ(t->sends[33], Bytes({image[0x1F0000]}));
}

TEST_F(ProtocolTest, ExactPieceAndTinyImages) {
    std::vector<uint8_t> image(0x1F0000, 7);
    t->AnswerWord(kWordAck);
    t->AnswerWord(kWordAck);
    ASSERT_EQ(link.ImageDownload(0x80004000, image.data(), image.size()), Error::Ok);
    EXPECT_EQ(HeadersOf(*t).size(), 2u);
    EXPECT_EQ(t->sends.back().size(), 1024u);

    // A short image: the header copy is padded instead of reading past the buffer.
    t->sends.clear();
    t->AnswerWord(kWordAck);
    t->AnswerWord(kWordAck);
    uint8_t one = 0x42;
    ASSERT_EQ(link.ImageDownload(0x80004000, &one, 1), Error::Ok);
    EXPECT_EQ(HeadersOf(*t), (std::vector<Header>{{0x80004000, 1, 0}, {0x80004000, 1024, 0xAA}}));
    std::vector<uint8_t> head(1024, 0);
    head[0] = 0x42;
    EXPECT_EQ(t->sends.back(), head);
}

TEST_F(ProtocolTest, FailuresStopTheDownload) {
    std::vector<uint8_t> image(200000);
    t->AnswerWord(kWordAck);
    t->failSendAt = 2;  // the second payload send
    EXPECT_EQ(link.ImageDownload(0x80004000, image.data(), image.size()), Error::Timeout);
    EXPECT_EQ(t->sends.size(), 3u);
    EXPECT_NE(link.ErrorDetail().find("65536 of 200000"), std::string::npos) << link.ErrorDetail();

    // Bytes of the failing send that did leave count, as the sender's observer counted them.
    uint64_t observed = 0;
    link.SetSendObserver([&](size_t n) { observed += n; });
    t->sends.clear();
    t->AnswerWord(kWordAck);
    t->failSendAt = 2;
    t->failedSendTook = 40960 - 16384;
    EXPECT_EQ(link.ImageDownload(0x80004000, image.data(), image.size()), Error::Timeout);
    EXPECT_NE(link.ErrorDetail().find(std::to_string(observed) + " of 200000"), std::string::npos)
        << link.ErrorDetail() << " after " << observed;
    link.SetSendObserver({});

    // A header nobody answers ends the download before any data is sent.
    auto quiet = std::make_unique<ScriptedTransport>();
    ScriptedTransport* sent = quiet.get();
    Link silent(std::move(quiet));
    EXPECT_NE(silent.ImageDownload(0x80004000, image.data(), image.size()), Error::Ok);
    EXPECT_EQ(sent->sends.size(), 1u);
}

TEST(FacadeTest, NoPortMeansFailureNotCrash) {
    BootwireClass bw;
    long buffer[256] = {};
    EXPECT_EQ(bw.Vireo_InitComPort(nullptr, 1), 0);  // no port open
    EXPECT_EQ(bw.Vireo_WriteRegister(0, 0x1000, 1, 32, 1), 0);
    EXPECT_EQ(bw.Vireo_ReadData(0, 0x1000, buffer, 4, 32, 1), 0);
    EXPECT_EQ(bw.Vireo_SekurelStatus(0, 1), 0);
    EXPECT_EQ(bw.Vireo_ImageDownload(0, 0x80004000, 16, buffer, 1), 0);
    EXPECT_EQ(bw.Vireo_WriteRegister(7, 0x1000, 1, 32, 1), 0);  // no such channel
    EXPECT_EQ(bw.Vireo_USBChangeIdEnum(3), 0);
    char missing[] = "/dev/no-such-port";
    EXPECT_EQ(bw.Vireo_InitComPort(missing, 1), 0);
}

}  // namespace
}  // namespace bootwire
