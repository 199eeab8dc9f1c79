// Inside the umockdev USB device: the URBs in flight, each appearance of the
// device on the bus, and the state they share between umockdev's worker thread
// (which answers the host's usbfs requests) and the device's own thread (which
// moves bytes to and from the board).
#pragma once

#include <linux/usbdevice_fs.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "umockdev_usb.h"
#include "usb_testbed.h"

namespace vsim {

using Clock = std::chrono::steady_clock;

inline constexpr unsigned kInterface = 0;
inline constexpr unsigned char kEndpointOut = 0x01;
inline constexpr unsigned char kEndpointIn = 0x82;
inline constexpr int kFirstAddress = 2;  // address 1 is the root hub
// libusb polls the device node, which umockdev makes a plain file that is always
// ready, and then reaps without waiting; holding an empty reap this long keeps
// that loop from spinning a core while a transfer waits for the board.
inline constexpr auto kReapHold = std::chrono::milliseconds(20);
// After the board hangs up, what it sent last may still be read by the host
// before the device leaves the bus; a host that reads nothing is not waited for.
inline constexpr auto kDrainGrace = std::chrono::seconds(2);
inline constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                          USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                          USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

using Data = GObjectPtr<UMockdevIoctlData>;

// The host's memory at the pointer held in `parent` at `offset`; synced back to
// the host when the request completes.
inline Data Resolve(UMockdevIoctlData* parent, size_t offset, size_t length) {
    return Data(umockdev_ioctl_data_resolve(parent, offset, length, nullptr));
}

struct Urb {
    Data data;    // the host's struct usbdevfs_urb
    Data buffer;  // and the buffer it points to
    std::vector<uint8_t> out;
    size_t moved = 0;
    usbdevfs_urb* Get() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
};
using UrbQueue = std::deque<std::unique_ptr<Urb>>;

struct HeldReap {
    GObjectPtr<UMockdevIoctlClient> client;
    Data pointer;                            // the host's variable that receives the reaped URB
    std::optional<Clock::time_point> until;  // none: a blocking reap
};

// One appearance of the device on the bus; it gets a new address each time.
struct UsbNode {
    UmockdevUsb::Impl* owner = nullptr;
    std::string path;
    GObjectPtr<UMockdevIoctlBase> handler;
    bool present = true;
    bool claimed = false;
    bool driverBound = false;
    GObjectPtr<UMockdevIoctlClient> host;  // the open that holds the board connection
    UniqueFd board;
    uint64_t boardConnection = 0;  // counts connections, so a poll of an earlier one is not taken for this one
    std::optional<Clock::time_point> boardClosedAt;
    UrbQueue outUrbs, inUrbs, done;
    std::optional<HeldReap> reap;
};

struct UmockdevUsb::Impl {
    enum class Action { None, Reenumerate, Unplug };

    Impl(ConnectBoard c, UsbDeviceFaults f, Log l) : connect(std::move(c)), faults(std::move(f)), log(std::move(l)) {}

    ConnectBoard connect;
    UsbDeviceFaults faults;
    Log log;
    std::mutex mutex;
    std::vector<std::unique_ptr<UsbNode>> nodes;  // every appearance, kept for hosts that still hold old nodes
    UsbTestbed testbed;                           // after `nodes`: goes first, while the handlers still exist
    UniqueFd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::thread thread;
    bool stop = false;
    bool unplugged = false;
    int nextAddress = kFirstAddress;
    uint64_t outTaken = 0;

    void Plug();
    void Run();
    Action Pump(UsbNode& node, bool hangUp);
    gboolean HandleIoctl(UsbNode& node, UMockdevIoctlClient* client);
    gboolean Submit(UsbNode& node, UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    gboolean Reap(UsbNode& node, UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool wait);
    gboolean Discard(UsbNode& node, UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    gboolean Driver(UsbNode& node, UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg);
    void Connected(UsbNode& node, UMockdevIoctlClient* client);
    void Vanished(UsbNode& node, UMockdevIoctlClient* client);
    void Gone(UsbNode& node);
    void Finish(UsbNode& node, UrbQueue& queue, int status);
    void ServeHeldReap(UsbNode& node);
    void Wake() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake.Get(), &one, sizeof one);
    }
    UsbNode* Current() { return nodes.empty() || !nodes.back()->present ? nullptr : nodes.back().get(); }
};

// Completes a request of the host; always TRUE, as a handled request returns.
inline gboolean Complete(UMockdevIoctlClient* client, long result, int error) {
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

}  // namespace vsim
