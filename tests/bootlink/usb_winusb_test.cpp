// The WinUSB driver layer against a fake of the Windows calls beneath it (no USB
// device can be reached under Wine): the records it answers, the calls it makes
// (pipe time-outs before transfers) and what each failure tells the user.
#include <gtest/gtest.h>

#include <deque>

#include "winusb_api.h"

namespace bootwire::usb {
namespace {

class FakeWinUsb : public WinUsbApi {
public:
    std::vector<WinUsbCandidate> devices;
    WinUsbStatus openStatus;  // what Open answers when not Ok
    WinUsbStatus policyStatus;
    WinUsbStatus readStatus;
    WinUsbStatus writeStatus;
    uint32_t writeTakes = UINT32_MAX;  // bytes a write moves at most
    std::deque<uint8_t> pending;       // bytes reads deliver
    std::vector<uint8_t> written;
    std::vector<std::string> calls;

    class Interface : public WinUsbInterface {
    public:
        explicit Interface(FakeWinUsb& api) : api_(api) {}
        WinUsbStatus SetPipeTimeout(uint8_t pipe, uint32_t ms) override {
            api_.calls.push_back("policy " + std::to_string(pipe) + " " + std::to_string(ms));
            return api_.policyStatus;
        }
        WinUsbStatus ReadPipe(uint8_t pipe, uint8_t* buffer, uint32_t n, uint32_t* moved) override {
            api_.calls.push_back("read " + std::to_string(pipe) + " " + std::to_string(n));
            *moved = std::min<uint32_t>(n, static_cast<uint32_t>(api_.pending.size()));
            std::copy_n(api_.pending.begin(), *moved, buffer);
            api_.pending.erase(api_.pending.begin(), api_.pending.begin() + *moved);
            return api_.readStatus;
        }
        WinUsbStatus WritePipe(uint8_t pipe, const uint8_t* buffer, uint32_t n, uint32_t* moved) override {
            api_.calls.push_back("write " + std::to_string(pipe) + " " + std::to_string(n));
            *moved = std::min(n, api_.writeTakes);
            api_.written.insert(api_.written.end(), buffer, buffer + *moved);
            return api_.writeStatus;
        }

    private:
        FakeWinUsb& api_;
    };

    WinUsbStatus FindDevices(uint16_t vendor, uint16_t product, std::vector<WinUsbCandidate>* found) override {
        calls.push_back("find " + std::to_string(vendor) + ":" + std::to_string(product));
        *found = devices;
        return {};
    }
    std::unique_ptr<WinUsbInterface> Open(const std::string& path, WinUsbStatus* status) override {
        calls.push_back("open " + path);
        if (!openStatus.Ok()) {
            *status = openStatus;
            return nullptr;
        }
        return std::make_unique<Interface>(*this);
    }
};

const WinUsbCandidate kOtherDriver{"\\\\?\\usb#a",
                                   "USB\\VID_2B4E&PID_7A31\\A",
                                   false,
                                   {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)"},
                                   "Port_#0001.Hub_#0001",
                                   "A",
                                   "Vireo boot device"};
const WinUsbCandidate kBootDevice{
    "\\\\?\\usb#b",
    "USB\\VID_2B4E&PID_7A31\\B",
    true,
    {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)", "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)#USB(2)"},
    "Port_#0003.Hub_#0002",
    "B",
    "Vireo boot device"};

class WinUsbLayerTest : public ::testing::Test {
protected:
    std::unique_ptr<Transport> Enumerate(std::string* out, Error* error = nullptr, std::string* detail = nullptr) {
        Error e;
        std::string d;
        ::testing::internal::CaptureStdout();
        auto t = usb::Enumerate(driver, &e, &d);
        *out = ::testing::internal::GetCapturedStdout();
        if (error) *error = e;
        if (detail) *detail = d;
        return t;
    }

    std::shared_ptr<FakeWinUsb> api = std::make_shared<FakeWinUsb>();
    std::shared_ptr<Driver> driver = MakeWinUsbDriver(api);
};

TEST_F(WinUsbLayerTest, ScanRecordListsEveryDeviceAndMarksThoseWinUsbDrives) {
    api->devices = {kOtherDriver, kBootDevice};
    std::string why;
    auto handle = driver->Open(&why);
    ASSERT_NE(handle, nullptr);

    uint8_t version[kVersionRecordSize] = {};
    ASSERT_TRUE(handle->Request(kVersionRequest, version, sizeof version, nullptr));
    EXPECT_GE(GetField(version, 0), kMinimumDriverVersion);

    std::vector<uint8_t> scan(kScanRecordSize, 0);
    PutField(scan.data(), 0, kVendorId);
    PutField(scan.data(), 4, kProductId);
    ASSERT_TRUE(handle->Request(kScanRequest, scan.data(), scan.size(), nullptr));
    std::vector<uint8_t> expected(kScanRecordSize, 0);
    PutField(expected.data(), 0, kVendorId);
    PutField(expected.data(), 4, kProductId);
    PutField(expected.data(), 8, 2);
    PutField(expected.data(), ScanIdOffset(0), 1);
    PutField(expected.data(), ScanIdOffset(1), 2);
    PutField(expected.data(), ScanMarkerOffset(1), kInterfaceMarker);
    EXPECT_EQ(scan, expected);
    EXPECT_EQ(api->calls, std::vector<std::string>{"find 11086:31281"});

    // A record too short for the answer is refused as a whole.
    std::vector<uint8_t> shortScan(100, 0);
    EXPECT_FALSE(handle->Request(kScanRequest, shortScan.data(), shortScan.size(), nullptr));
}

TEST_F(WinUsbLayerTest, OpensTheFirstDeviceWinUsbDrives) {
    api->devices = {kOtherDriver, kBootDevice};
    std::string out;
    auto t = Enumerate(&out);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(out, "");
    EXPECT_EQ(api->calls, (std::vector<std::string>{"find 11086:31281", "open \\\\?\\usb#b"}));
}

TEST_F(WinUsbLayerTest, ListsBootDevicesWhereTheyArePluggedInAndOpensTheOneThereByAnyOfItsNames) {
    // Windows tells the place of each as its location paths and hub port, or less.
    const WinUsbCandidate acpiOnly{"\\\\?\\usb#c",
                                   "USB\\VID_2B4E&PID_7A31\\C",
                                   true,
                                   {"ACPI(_SB_)#ACPI(USB0)#USB(1)"},
                                   "Port_#0001.Hub_#0004",
                                   "C",
                                   ""};
    const WinUsbCandidate hubOnly{
        "\\\\?\\usb#d", "USB\\VID_2B4E&PID_7A31\\D", true, {}, "Port_#0002.Hub_#0005", "D", ""};
    const WinUsbCandidate unplaced{"\\\\?\\usb#e", "USB\\VID_2B4E&PID_7A31\\6&1&0", true, {}, "", "", ""};
    api->devices = {kOtherDriver, kBootDevice, acpiOnly, hubOnly, unplaced};
    std::vector<PortInfo> listed = ListBootDevices(driver);
    std::vector<std::string> names;
    for (const PortInfo& port : listed) names.push_back(port.name);
    // Not the device another driver holds; none known: its place in the scan.
    EXPECT_EQ(names,
              (std::vector<std::string>{"5", "ACPI(_SB_)#ACPI(USB0)#USB(1)", "Port_#0002.Hub_#0005", "pci0.1400-3.2"}));
    EXPECT_EQ(listed[3].kind, PortInfo::Kind::UsbBoot);
    EXPECT_EQ(listed[3].usbSerial, "B");
    EXPECT_EQ(listed[3].description, "Vireo boot device");
    EXPECT_EQ(listed[3].usbVendor, kVendorId);

    // The short text, the location paths and the hub port form that scripts may hold all reach it.
    for (const char* name : {"pci0.1400-3.2", "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)",
                             "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)#USB(2)", "Port_#0003.Hub_#0002"}) {
        api->calls.clear();
        Error error = Error::Ok;
        std::string detail;
        auto t = OpenBootDeviceAt(driver, name, &error, &detail);
        ASSERT_NE(t, nullptr) << name << ": " << detail;
        EXPECT_EQ(api->calls, (std::vector<std::string>{"find 11086:31281", "open \\\\?\\usb#b"})) << name;
    }
    Error error = Error::Ok;
    std::string detail;
    // The device another driver holds is not opened at its place; a place with nothing there.
    for (const char* name : {"pci0.1400-1", "pci0.1400-3.3"}) {
        EXPECT_EQ(OpenBootDeviceAt(driver, name, &error, &detail), nullptr);
        EXPECT_EQ(error, Error::NotFound);
        EXPECT_EQ(detail, std::string("no USB boot device at ") + name);
    }
}

TEST_F(WinUsbLayerTest, EachPipeGetsTheRecordsTimeOutBeforeItsFirstTransfer) {
    api->devices = {kBootDevice};
    std::string out;
    auto t = Enumerate(&out);
    ASSERT_NE(t, nullptr);
    api->calls.clear();

    uint8_t frame[16] = {5};
    ASSERT_EQ(t->Send(frame, sizeof frame, nullptr), Error::Ok);
    ASSERT_EQ(t->Send(frame, sizeof frame, nullptr), Error::Ok);
    api->pending = {0x88, 0x88, 0x88, 0x88};
    uint8_t word[4] = {};
    size_t got = 0;
    ASSERT_EQ(t->Receive(word, 4, &got), Error::Ok);
    EXPECT_EQ(got, 4u);
    t->SetReceiveTimeoutLimit(5000);
    api->pending = {1, 2};
    EXPECT_EQ(t->Receive(word, 4, &got), Error::Ok);  // a short read is the caller's to judge
    EXPECT_EQ(got, 2u);

    EXPECT_EQ(api->calls, (std::vector<std::string>{"policy 1 10000", "write 1 16", "write 1 16", "policy 130 300000",
                                                    "read 130 4", "policy 130 5000", "read 130 4"}));
    EXPECT_EQ(api->written.size(), 32u);
    EXPECT_EQ(word[0], 1);
}

TEST_F(WinUsbLayerTest, TransferRecordTellsWhatMovedAndWhetherItWorked) {
    api->devices = {kBootDevice};
    std::string why;
    auto handle = driver->Open(&why);
    std::vector<uint8_t> scan(kScanRecordSize, 0);
    PutField(scan.data(), 0, kVendorId);
    PutField(scan.data(), 4, kProductId);
    handle->Request(kScanRequest, scan.data(), scan.size(), nullptr);
    uint8_t open[kOpenRecordSize] = {};
    PutField(open, 0, 1);
    ASSERT_TRUE(handle->Request(kOpenRequest, open, sizeof open, nullptr));
    uint32_t device = GetField(open, 16);
    ASSERT_NE(device, 0u);

    uint8_t buffer[8] = {};
    uint8_t record[kTransferRecordSize] = {};
    PutField(record, kTransferDevice, device);
    PutField(record, kTransferPipe, kPipeIn);
    PutField(record, kTransferDirection, 1);
    PutField(record, kTransferLength, 8);
    PutField(record, kTransferTimeout, 300000);
    api->pending = {9, 8, 7};
    ASSERT_TRUE(handle->Request(kTransferRequest, record, sizeof record, buffer));
    EXPECT_EQ(GetField(record, kTransferMoved), 3u);
    EXPECT_EQ(GetField(record, kTransferSuccess), 1u);

    api->readStatus = {Error::Timeout, "The semaphore timeout period has expired (error 121)"};
    ASSERT_TRUE(handle->Request(kTransferRequest, record, sizeof record, buffer));
    EXPECT_EQ(GetField(record, kTransferMoved), 0u);
    EXPECT_EQ(GetField(record, kTransferSuccess), 0u);
    std::string detail;
    EXPECT_EQ(handle->LastTransferError(&detail), Error::Timeout);

    // Once the handle that opened the device is gone, so is the device.
    handle.reset();
    auto other = driver->Open(&why);
    api->readStatus = {};
    ASSERT_TRUE(other->Request(kTransferRequest, record, sizeof record, buffer));
    EXPECT_EQ(GetField(record, kTransferSuccess), 0u);
    EXPECT_EQ(other->LastTransferError(&detail), Error::Gone);
    EXPECT_EQ(detail, "the device is no longer open");
}

TEST_F(WinUsbLayerTest, EnumerationDiagnostics) {
    std::string out;
    Error error;
    std::string detail;
    EXPECT_EQ(Enumerate(&out), nullptr);
    EXPECT_EQ(out, "No deviced found\n");

    api->devices = {kOtherDriver};
    EXPECT_EQ(Enumerate(&out), nullptr);
    EXPECT_EQ(out, "Could not find the device interface.\n");

    api->devices = {kBootDevice};
    api->openStatus = {Error::Busy, "another program holds the device: Access denied (error 5)"};
    EXPECT_EQ(Enumerate(&out, &error, &detail), nullptr);
    EXPECT_EQ(out, "Could not open device\n\n");
    EXPECT_EQ(error, Error::Busy);
    EXPECT_EQ(detail,
              "USB device USB\\VID_2B4E&PID_7A31\\B: another program holds the device: Access denied (error 5)");

    api->openStatus = {Error::Driver, "WinUSB refused the device (is WinUSB its driver?): x"};
    EXPECT_EQ(Enumerate(&out, &error, &detail), nullptr);
    EXPECT_EQ(error, Error::Driver);
    EXPECT_EQ(detail, "USB device USB\\VID_2B4E&PID_7A31\\B: WinUSB refused the device (is WinUSB its driver?): x");
}

TEST_F(WinUsbLayerTest, TransferFailuresKeepTheirKindAndWords) {
    api->devices = {kBootDevice};
    std::string out;
    auto t = Enumerate(&out);
    ASSERT_NE(t, nullptr);
    Link link(std::move(t));
    uint32_t word = 0;

    api->readStatus = {Error::Gone, "reading failed: The device is not connected (error 1167)"};
    EXPECT_EQ(link.GetStatus(&word), Error::Gone);
    EXPECT_NE(link.ErrorDetail().find("the USB device is gone (unplugged or reset): USB\\VID_2B4E&PID_7A31\\B: "
                                      "reading failed: The device is not connected (error 1167)"),
              std::string::npos)
        << link.ErrorDetail();

    api->readStatus = {Error::Timeout, "reading failed: The semaphore timeout period has expired (error 121)"};
    EXPECT_EQ(link.GetStatus(&word), Error::Timeout);
    EXPECT_NE(link.ErrorDetail().find("the device sent no data in time"), std::string::npos) << link.ErrorDetail();

    api->readStatus = {};
    api->writeTakes = 10;
    EXPECT_EQ(link.GetStatus(&word), Error::Timeout);
    EXPECT_NE(link.ErrorDetail().find("the device took 10 of 16 bytes"), std::string::npos) << link.ErrorDetail();

    // A pipe whose time-out cannot be set is not used at all: it could wait for ever.
    api->writeTakes = UINT32_MAX;
    link.SetReceiveTimeoutLimit(7000);
    api->policyStatus = {Error::Driver, "The parameter is incorrect (error 87)"};
    api->calls.clear();
    EXPECT_EQ(link.GetStatus(&word), Error::Driver);
    EXPECT_NE(link.ErrorDetail().find("cannot set the time-out of pipe 0x82: The parameter is incorrect (error 87)"),
              std::string::npos)
        << link.ErrorDetail();
    EXPECT_EQ(api->calls, (std::vector<std::string>{"write 1 16", "policy 130 7000"}));
}

}  // namespace
}  // namespace bootwire::usb
