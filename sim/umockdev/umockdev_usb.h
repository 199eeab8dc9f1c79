// The virtual board's USB boot device (2b4e:7a31, bulk OUT 0x01, bulk IN 0x82)
// inside a umockdev test bed, so that a host program started under
// umockdev-wrapper reaches it through libusb and the kernel's usbfs interface, as
// it would reach a real board.
//
// The usbfs requests of the host (claim, submit and reap URBs, discard...) are
// answered here. Bulk OUT data goes to the board over a stream connection, opened
// anew each time a host opens the device node, and bulk IN transfers are answered
// with what the board sends back, when it sends it. The board closing the
// connection is the device re-enumerating: it leaves the bus and comes back at
// the next address.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/unique_fd.h"
#include "usb_faults.h"

namespace vsim {

using sealbench::UniqueFd;

class UmockdevUsb {
public:
    // Opens a stream to the board for a host that opened the device; invalid with
    // *why when the board cannot be reached.
    using ConnectBoard = std::function<UniqueFd(std::string* why)>;
    using Log = std::function<void(const std::string&)>;

    // Makes the test bed and plugs the device in. Throws std::runtime_error.
    UmockdevUsb(ConnectBoard connect, UsbDeviceFaults faults, Log log);
    ~UmockdevUsb();
    UmockdevUsb(const UmockdevUsb&) = delete;
    UmockdevUsb& operator=(const UmockdevUsb&) = delete;

    // The test bed's folder, for UMOCKDEV_DIR.
    const std::string& Dir() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace vsim
