// The USB transport's driver requests, byte for byte, against a fake driver
// layer that plays the kernel driver's part.
#include <gtest/gtest.h>

#include <map>

#include "usb_driver.h"

namespace bootwire::usb {
namespace {

struct FakeDevice {
    uint32_t uniqueId;
    uint32_t marker;
};

struct Request {
    uint32_t code;
    std::vector<uint8_t> record;  // as handed to the driver
};

class FakeDriver : public Driver {
public:
    uint32_t version = 600;
    std::vector<FakeDevice> devices;
    uint32_t deviceHandle = 0x77;
    bool reachable = true;
    std::vector<Request> requests;
    std::vector<uint8_t> pending;  // bytes a receive delivers

    class Handle : public DriverHandle {
    public:
        explicit Handle(FakeDriver& d) : d_(d) {}
        bool Request(uint32_t code, uint8_t* record, size_t size, uint8_t* buffer) override {
            d_.requests.push_back({code, std::vector<uint8_t>(record, record + size)});
            switch (code) {
                case kVersionRequest:
                    PutField(record, 0, d_.version);
                    break;
                case kScanRequest:
                    PutField(record, 8, static_cast<uint32_t>(d_.devices.size()));
                    for (size_t i = 0; i < d_.devices.size(); ++i) {
                        PutField(record, ScanIdOffset(i), d_.devices[i].uniqueId);
                        PutField(record, ScanMarkerOffset(i), d_.devices[i].marker);
                    }
                    break;
                case kOpenRequest:
                    d_.openedId = GetField(record, 0);
                    PutField(record, 16, d_.deviceHandle);
                    break;
                case kTransferRequest: {
                    uint32_t n = GetField(record, kTransferLength);
                    if (GetField(record, kTransferDirection) == 1) {
                        uint32_t k = std::min<uint32_t>(n, static_cast<uint32_t>(d_.pending.size()));
                        std::copy_n(d_.pending.begin(), k, buffer);
                        d_.pending.erase(d_.pending.begin(), d_.pending.begin() + k);
                        PutField(record, kTransferMoved, k);
                        PutField(record, kTransferSuccess, k > 0);
                    } else {
                        d_.sent.insert(d_.sent.end(), buffer, buffer + n);
                        PutField(record, kTransferMoved, n);
                        PutField(record, kTransferSuccess, 1);
                    }
                    break;
                }
            }
            return true;
        }

    private:
        FakeDriver& d_;
    };

    std::unique_ptr<DriverHandle> Open(std::string* why) override {
        if (!reachable) {
            *why = "unreachable";
            return nullptr;
        }
        return std::make_unique<Handle>(*this);
    }

    uint32_t openedId = 0;
    std::vector<uint8_t> sent;
};

class UsbRecordsTest : public ::testing::Test {
protected:
    std::unique_ptr<Transport> Enumerate(std::string* out) {
        Error error;
        std::string detail;
        ::testing::internal::CaptureStdout();
        auto t = usb::Enumerate(driver, &error, &detail);
        *out = ::testing::internal::GetCapturedStdout();
        return t;
    }
    std::shared_ptr<FakeDriver> driver = std::make_shared<FakeDriver>();
};

TEST_F(UsbRecordsTest, ScanAndOpenRecords) {
    driver->devices = {{0x11, 0}, {0x22, kInterfaceMarker}};
    std::string out;
    auto t = Enumerate(&out);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(out, "");
    EXPECT_EQ(driver->openedId, 0x22u);  // the first device with the marker

    // version, scan, version again on the device's own handle, open
    ASSERT_EQ(driver->requests.size(), 4u);
    EXPECT_EQ(driver->requests[0].code, kVersionRequest);
    EXPECT_EQ(driver->requests[0].record, std::vector<uint8_t>(kVersionRecordSize, 0));
    std::vector<uint8_t> scan(kScanRecordSize, 0);
    PutField(scan.data(), 0, 0x2B4E);
    PutField(scan.data(), 4, 0x7A31);
    EXPECT_EQ(driver->requests[1].code, kScanRequest);
    EXPECT_EQ(driver->requests[1].record, scan);
    std::vector<uint8_t> open(kOpenRecordSize, 0);
    PutField(open.data(), 0, 0x22);
    EXPECT_EQ(driver->requests[3].code, kOpenRequest);
    EXPECT_EQ(driver->requests[3].record, open);
}

TEST_F(UsbRecordsTest, TransferRecords) {
    driver->devices = {{5, kInterfaceMarker}};
    std::string out;
    auto t = Enumerate(&out);
    ASSERT_NE(t, nullptr);
    driver->requests.clear();

    uint8_t frame[16] = {2, 2};
    ASSERT_EQ(t->Send(frame, sizeof frame, nullptr), Error::Ok);
    driver->pending = {0x56, 0x78, 0x78, 0x56};
    uint8_t word[4];
    size_t got = 0;
    ASSERT_EQ(t->Receive(word, 4, &got), Error::Ok);
    EXPECT_EQ(got, 4u);

    ASSERT_EQ(driver->requests.size(), 2u);
    std::vector<uint8_t> expected(kTransferRecordSize, 0);
    PutField(expected.data(), 0, 0x77);
    PutField(expected.data(), 4, 0x01);
    PutField(expected.data(), 8, 0);
    PutField(expected.data(), 16, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(frame)));
    PutField(expected.data(), 20, 16);
    PutField(expected.data(), 24, 10000);
    EXPECT_EQ(driver->requests[0].record, expected);

    PutField(expected.data(), 4, 0x82);
    PutField(expected.data(), 8, 1);
    PutField(expected.data(), 16, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(word)));
    PutField(expected.data(), 20, 4);
    PutField(expected.data(), 24, 300000);
    EXPECT_EQ(driver->requests[1].record, expected);

    // A receive that delivers nothing is a failure of the transfer.
    EXPECT_NE(t->Receive(word, 4, &got), Error::Ok);
    // Callers may cap the five-minute receive.
    t->SetReceiveTimeoutLimit(20000);
    driver->requests.clear();
    t->Receive(word, 4, &got);
    EXPECT_EQ(GetField(driver->requests[0].record.data(), 24), 20000u);
}

TEST_F(UsbRecordsTest, DriverVersionLimit) {
    driver->devices = {{5, kInterfaceMarker}};
    std::string out;
    driver->version = 521;
    EXPECT_EQ(Enumerate(&out), nullptr);
    EXPECT_EQ(out, "Error - incorrect WinDriver version\n");
    driver->version = 522;
    EXPECT_NE(Enumerate(&out), nullptr);
}

TEST_F(UsbRecordsTest, Diagnostics) {
    std::string out;
    EXPECT_EQ(Enumerate(&out), nullptr);
    EXPECT_EQ(out, "No deviced found\n");

    driver->devices = {{0, kInterfaceMarker}, {9, kInterfaceMarker}};
    EXPECT_EQ(Enumerate(&out), nullptr);
    EXPECT_EQ(out, "Could not find the device interface.\n");
    EXPECT_EQ(driver->openedId, 0u);  // no later device is tried

    driver->devices = {{9, 0}};
    EXPECT_EQ(Enumerate(&out), nullptr);
    EXPECT_EQ(out, "Could not find the device interface.\n");

    driver->devices = {{9, kInterfaceMarker}};
    driver->deviceHandle = 0;
    EXPECT_EQ(Enumerate(&out), nullptr);
    EXPECT_EQ(out, "Could not open device\n\n");

    driver->reachable = false;
    EXPECT_EQ(Enumerate(&out), nullptr);
    EXPECT_EQ(out, "Cannot open WinDriver device\n");
}

}  // namespace
}  // namespace bootwire::usb
