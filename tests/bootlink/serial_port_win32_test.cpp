// The Win32 serial transport on a real port: the Wine test run (tests/windows/run.sh)
// links vireo-sim's pty as a COM port and names it in SEALBENCH_TEST_COM. Without
// it the tests are skipped. (That a port is held exclusively is Windows' part and
// cannot be seen here: Wine lets a second program open a COM port.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "serial_win32.h"

namespace bootwire {
namespace {

using Clock = std::chrono::steady_clock;

class SerialWin32Port : public ::testing::Test {
protected:
    void SetUp() override {
        const char* port = std::getenv("SEALBENCH_TEST_COM");
        if (!port || !*port) {
            GTEST_SKIP() << "no port: SEALBENCH_TEST_COM names the COM port linked to vireo-sim";
        }
        port_ = port;
    }
    std::unique_ptr<Transport> Open(Error* error, std::string* detail) {
        return OpenSerial(port_, static_cast<int>(LineMode::NoParityOneStop), error, detail);
    }
    std::string port_;
};

TEST_F(SerialWin32Port, RegisterWriteAndReadBack) {
    Error error;
    std::string detail;
    Link link(Open(&error, &detail));
    ASSERT_EQ(error, Error::Ok) << detail;
    EXPECT_EQ(link.Describe(), "COM" + std::to_string(std::stoi(port_)));
    ASSERT_EQ(link.WriteRegister(0x80000100, 0xCAFEF00D, 32, 0), Error::Ok) << link.ErrorDetail();
    uint8_t bytes[4] = {};
    ASSERT_EQ(link.ReadData(0x80000100, bytes, 4, 32), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(bytes[0], 0x0D);
    EXPECT_EQ(bytes[3], 0xCA);
}

TEST_F(SerialWin32Port, ASilentLineEndsAReceiveWithinItsBound) {
    Error error;
    std::string detail;
    auto transport = Open(&error, &detail);
    ASSERT_EQ(error, Error::Ok) << detail;
    uint8_t word[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    size_t received = 99;
    auto start = Clock::now();
    EXPECT_EQ(transport->Receive(word, sizeof word, &received), Error::Timeout);
    auto took = Clock::now() - start;
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(word[0], 0xAA);
    // 3 s plus 5 ms a byte, never cut short and never much longer.
    EXPECT_GE(took, std::chrono::milliseconds(3000));
    EXPECT_LT(took, std::chrono::seconds(15));
    EXPECT_NE(transport->LastDetail().find("did not answer in time (0 of 4 bytes)"), std::string::npos)
        << transport->LastDetail();
}

TEST_F(SerialWin32Port, LineSpeedChangesAndRefusals) {
    Error error;
    std::string detail;
    Link link(Open(&error, &detail));
    ASSERT_EQ(error, Error::Ok) << detail;
    EXPECT_EQ(link.SetLineSpeed(0), Error::Settings);
    EXPECT_EQ(link.SetLineSpeed(921600), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(link.SetLineSpeed(115200), Error::Ok) << link.ErrorDetail();
    uint32_t word = 0;
    EXPECT_EQ(link.GetStatus(&word), Error::Ok) << link.ErrorDetail();
}

}  // namespace
}  // namespace bootwire
