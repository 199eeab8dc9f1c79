// Bootwire's libusb driver layer, the one a user with a real board runs, against
// the virtual board's USB boot device in a umockdev test bed: the scan records,
// the open and claim, transfers in both directions, and the ways a device fails.
#include <chrono>
#include <random>
#include <thread>

#include "umockdev_board.h"
#include "usb_driver.h"

namespace {

using bootwire::Error;
using bootwire::Link;
namespace usb = bootwire::usb;

constexpr uint32_t kRam = 0x80000000;  // VireoC_TO2

class LibusbLayer : public sealtest::UmockdevBoard {
protected:
    // Scans and opens as the library does, through a fresh libusb context.
    std::unique_ptr<bootwire::Transport> Open(Error* error = nullptr, std::string* detail = nullptr) {
        Error e = Error::Ok;
        std::string d;
        driver_ = usb::MakeLibusbDriver();
        auto transport = usb::Enumerate(driver_, error ? error : &e, detail ? detail : &d);
        return transport;
    }

    std::shared_ptr<usb::Driver> driver_;
};

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

TEST_F(LibusbLayer, ScanRecordsMarkTheBootDeviceWithItsBusAndAddress) {
    StartBoard("VireoC_TO2");
    driver_ = usb::MakeLibusbDriver();
    std::string why;
    auto handle = driver_->Open(&why);
    ASSERT_TRUE(handle) << why;
    uint8_t version[usb::kVersionRecordSize] = {};
    ASSERT_TRUE(handle->Request(usb::kVersionRequest, version, sizeof version, nullptr));
    EXPECT_GE(usb::GetField(version, 0), usb::kMinimumDriverVersion);

    std::vector<uint8_t> scan(usb::kScanRecordSize, 0);
    usb::PutField(scan.data(), 0, usb::kVendorId);
    usb::PutField(scan.data(), 4, usb::kProductId);
    ASSERT_TRUE(handle->Request(usb::kScanRequest, scan.data(), scan.size(), nullptr));
    EXPECT_EQ(usb::GetField(scan.data(), 8), 1u);
    EXPECT_EQ(usb::GetField(scan.data(), usb::ScanIdOffset(0)), 0x10102u);  // bus 1, address 2
    EXPECT_EQ(usb::GetField(scan.data(), usb::ScanMarkerOffset(0)), usb::kInterfaceMarker);

    std::vector<uint8_t> other(usb::kScanRecordSize, 0);
    usb::PutField(other.data(), 0, usb::kVendorId);
    usb::PutField(other.data(), 4, usb::kProductId + 1);
    ASSERT_TRUE(handle->Request(usb::kScanRequest, other.data(), other.size(), nullptr));
    EXPECT_EQ(usb::GetField(other.data(), 8), 0u);
}

TEST_F(LibusbLayer, OpensClaimsAndWritesAndReadsRegisters) {
    StartBoard("VireoC_TO2");
    Error error = Error::Ok;
    std::string detail;
    auto transport = Open(&error, &detail);
    ASSERT_TRUE(transport) << bootwire::ErrorName(error) << ": " << detail;
    EXPECT_EQ(transport->Describe(), "USB 2b4e:7a31");
    Link link(std::move(transport));
    for (uint32_t i = 0; i < 8; ++i) {
        ASSERT_EQ(link.WriteRegister(kRam + 0x100 + 4 * i, 0x12345600 + i, 32, 2), Error::Ok) << link.ErrorDetail();
    }
    uint8_t back[32] = {};
    ASSERT_EQ(link.ReadData(kRam + 0x100, back, sizeof back, 32), Error::Ok) << link.ErrorDetail();
    for (uint32_t i = 0; i < 8; ++i) {
        uint32_t word = back[4 * i] | back[4 * i + 1] << 8 | back[4 * i + 2] << 16 | uint32_t(back[4 * i + 3]) << 24;
        EXPECT_EQ(word, 0x12345600 + i);
    }
    uint32_t status = 0;
    ASSERT_EQ(link.GetStatus(&status), Error::Ok) << link.ErrorDetail();
    EXPECT_EQ(status, 0x3Cu);
}

TEST_F(LibusbLayer, DownloadsAreReadBackWhole) {
    StartBoard("VireoC_TO2");
    auto transport = Open();
    ASSERT_TRUE(transport);
    Link link(std::move(transport));
    // One byte, one byte past a 64 KiB send, one byte past an image piece.
    for (size_t size : {size_t{1}, size_t{0x10001}, size_t{0x1F0001}}) {
        SCOPED_TRACE(size);
        auto data = Pattern(size, static_cast<uint32_t>(size));
        ASSERT_EQ(link.FileDownload(bootwire::FileType::Image, kRam + 0x10000, data.data(), size), Error::Ok)
            << link.ErrorDetail();
        std::vector<uint8_t> back(size);
        ASSERT_EQ(link.ReadData(kRam + 0x10000, back.data(), size, 8), Error::Ok) << link.ErrorDetail();
        EXPECT_TRUE(back == data);
    }
}

TEST_F(LibusbLayer, AnUnpluggedDeviceIsGoneAtOnce) {
    StartBoard("VireoC_TO2", {"--fault", "usb-unplug:100000"});
    auto transport = Open();
    ASSERT_TRUE(transport);
    Link link(std::move(transport));
    auto data = Pattern(0x1F0001, 7);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.FileDownload(bootwire::FileType::Image, kRam, data.data(), data.size()), Error::Gone);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_NE(link.ErrorDetail().find("gone"), std::string::npos) << link.ErrorDetail();
    // A time-out could not have come before the send's own time-out.
    EXPECT_LT(took, std::chrono::milliseconds(usb::kSendTimeoutMs));
    EXPECT_TRUE(sim().WaitForStderr("fault: USB device unplugged after 100000 bulk OUT bytes")) << sim().Stderr();
    // Every later transfer fails the same way, and a new scan no longer finds it.
    uint32_t word = 0;
    EXPECT_EQ(link.GetStatus(&word), Error::Gone);
    // The test bed takes the device away a moment after the board says so: until
    // then a scan may still see it, half gone.
    Error error = Error::Ok;
    std::string detail;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool opened = false;
    for (;;) {
        opened = Open(&error, &detail) != nullptr;
        if ((!opened && error == Error::NotFound) || std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, Error::NotFound) << detail;
}

TEST_F(LibusbLayer, ASilentBoardTimesOutAndTheLinkStaysUsable) {
    StartBoard("VireoC_TO2");
    auto transport = Open();
    ASSERT_TRUE(transport);
    Link link(std::move(transport));
    link.SetReceiveTimeoutLimit(300);
    // The ROM does not answer a flashing-status query (no flash program runs); the transfer is cancelled
    // when its time is up and the device is still there afterwards.
    uint32_t word = 0;
    EXPECT_EQ(link.FlashingStatus(&word), Error::Timeout) << link.ErrorDetail();
    EXPECT_EQ(link.WriteRegister(kRam, 0xCAFEF00D, 32, 2), Error::Ok) << link.ErrorDetail();
}

TEST_F(LibusbLayer, AKernelDriverOnTheInterfaceIsDetachedAndGivenBack) {
    StartBoard("VireoC_TO2", {"--fault", "usb-driver:vireo_acm"});
    {
        Error error = Error::Ok;
        std::string detail;
        auto transport = Open(&error, &detail);
        ASSERT_TRUE(transport) << bootwire::ErrorName(error) << ": " << detail;
        EXPECT_TRUE(sim().WaitForStderr("kernel driver vireo_acm detached from interface 0 of /dev/bus/usb/001/002"))
            << sim().Stderr();
        Link link(std::move(transport));
        EXPECT_EQ(link.WriteRegister(kRam, 1, 32, 2), Error::Ok) << link.ErrorDetail();
    }
    EXPECT_TRUE(sim().WaitForStderr("kernel driver vireo_acm bound to interface 0 of /dev/bus/usb/001/002 again"))
        << sim().Stderr();
}

}  // namespace
