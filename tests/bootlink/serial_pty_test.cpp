// The serial transport on a real pseudo-terminal: line settings as the port
// holds them afterwards, bounded reads and writes.
#include <bootwire/bootwire.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace bootwire {
namespace {

class Pty {
public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master_);
        ::unlockpt(master_);
        path_ = ::ptsname(master_);
        termios tio{};
        ::tcgetattr(master_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    ~Pty() { ::close(master_); }
    int master() const { return master_; }
    const std::string& path() const { return path_; }

    termios SlaveSettings() const {
        int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::close(fd);
        return tio;
    }

private:
    int master_ = -1;
    std::string path_;
};

std::unique_ptr<Transport> Open(const std::string& port, int mode, Error* error) {
    std::string detail;
    return OpenSerial(port, mode, error, &detail);
}

TEST(SerialPty, OneProgramAtATimeWhoeverItIs) {
    Pty pty;
    Error error;
    auto first = Open(pty.path(), 1, &error);
    ASSERT_NE(first, nullptr);
    // Also for root, whom TIOCEXCL does not stop.
    std::string detail;
    auto second = OpenSerial(pty.path(), 1, &error, &detail);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(error, Error::Busy);
    EXPECT_NE(detail.find(pty.path() + ": port in use by another program"), std::string::npos) << detail;
    EXPECT_NE(detail.find("pid " + std::to_string(::getpid()) + ")"), std::string::npos) << detail;

    first.reset();  // the claim ends with the port
    auto third = Open(pty.path(), 1, &error);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(error, Error::Ok);
}

TEST(SerialPty, LineModesAsThePortHoldsThem) {
    struct Case {
        int mode;
        bool twoStopBits;
    };
    for (Case c : {Case{0, true}, Case{1, false}}) {
        Pty pty;
        Error error;
        auto t = Open(pty.path(), c.mode, &error);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(error, Error::Ok) << "mode " << c.mode;
        termios tio = pty.SlaveSettings();
        EXPECT_EQ(cfgetospeed(&tio), B115200);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStopBits) << "mode " << c.mode;
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);  // raw: every byte passes unchanged
    }
}

TEST(SerialPty, OtherModesKeepThePortsStopBits) {
    Pty pty;
    {
        Error error;
        auto t = Open(pty.path(), 0, &error);  // leaves two stop bits behind
    }
    Error error;
    auto t = Open(pty.path(), 2, &error);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(error, Error::Ok);
    EXPECT_NE(pty.SlaveSettings().c_cflag & CSTOPB, 0u);
}

TEST(SerialPty, MissingPortsAndNonTerminals) {
    Error error;
    EXPECT_EQ(Open("/dev/no-such-port", 1, &error), nullptr);
    EXPECT_EQ(error, Error::NotFound);
    EXPECT_EQ(Open("/dev/null", 1, &error), nullptr);
    EXPECT_EQ(error, Error::NotFound);
    // COM numbers name the platform's ports; COM99 is not there.
    EXPECT_EQ(Open("99", 1, &error), nullptr);
}

TEST(SerialPty, BytesPassBothWays) {
    Pty pty;
    Error error;
    auto t = Open(pty.path(), 1, &error);
    ASSERT_NE(t, nullptr);
    std::vector<uint8_t> out(300);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<uint8_t>(i);  // includes 0x0D, 0x11, 0x13, 0x7F: no translation
    }
    size_t seen = 0;
    SendObserver observer = [&](size_t n) { seen += n; };
    ASSERT_EQ(t->Send(out.data(), out.size(), &observer), Error::Ok);
    EXPECT_EQ(seen, out.size());
    std::vector<uint8_t> in(out.size());
    size_t got = 0;
    while (got < in.size()) {
        ssize_t r = ::read(pty.master(), in.data() + got, in.size() - got);
        ASSERT_GT(r, 0);
        got += static_cast<size_t>(r);
    }
    EXPECT_EQ(in, out);

    ASSERT_EQ(::write(pty.master(), out.data(), out.size()), static_cast<ssize_t>(out.size()));
    std::vector<uint8_t> back(out.size());
    ASSERT_EQ(t->Receive(back.data(), back.size(), &got), Error::Ok);
    EXPECT_EQ(back, out);
}

TEST(SerialPty, SilenceEndsTheReceive) {
    Pty pty;
    Error error;
    auto t = Open(pty.path(), 1, &error);
    ASSERT_NE(t, nullptr);
    ::write(pty.master(), "\x56\x78", 2);
    uint8_t word[4] = {};
    size_t got = 99;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(t->Receive(word, 4, &got), Error::Timeout);
    EXPECT_EQ(got, 2u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(SerialPty, ABoardThatStopsReadingFailsTheSend) {
    Pty pty;  // nobody reads the master
    Error error;
    auto t = Open(pty.path(), 1, &error);
    ASSERT_NE(t, nullptr);
    std::vector<uint8_t> data(kMaxSendSize);
    EXPECT_EQ(t->Send(data.data(), data.size(), nullptr), Error::Timeout);
    EXPECT_NE(t->LastDetail().find("stopped taking data"), std::string::npos) << t->LastDetail();
}

TEST(SerialPty, ChoosingThePortAgainReopensIt) {
    Pty pty;
    BootwireClass bw;
    std::string path = pty.path();
    EXPECT_EQ(bw.Vireo_InitComPort(path.data(), 1), 1);
    // The exclusive port is closed before it is opened again.
    EXPECT_EQ(bw.Vireo_InitComPort(path.data(), 0), 1);
    EXPECT_NE(pty.SlaveSettings().c_cflag & CSTOPB, 0u);
    EXPECT_EQ(bw.Vireo_InitComPort(nullptr, 1), 0);  // lets the port go
}

}  // namespace
}  // namespace bootwire
