// The host's claims of the interface and the kernel driver that may hold it,
// answered as the kernel's usbfs answers them.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "usb_device_state.h"

namespace vsim {

gboolean UmockdevUsb::Impl::Driver(UsbNode& node, UMockdevIoctlClient* client, unsigned long request,
                                   UMockdevIoctlData* arg) {
    switch (request) {
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE: {
            Data iface = Resolve(arg, 0, sizeof(unsigned));
            if (!iface) return Complete(client, -1, EFAULT);
            if (*reinterpret_cast<unsigned*>(iface->data) != kInterface) return Complete(client, -1, EINVAL);
            if (request == USBDEVFS_RELEASEINTERFACE) {
                if (!node.claimed) return Complete(client, -1, EINVAL);
                node.claimed = false;
                return Complete(client, 0, 0);
            }
            if (node.driverBound) return Complete(client, -1, EBUSY);
            node.claimed = true;
            return Complete(client, 0, 0);
        }
        case USBDEVFS_DISCONNECT_CLAIM: {
            Data dc = Resolve(arg, 0, sizeof(usbdevfs_disconnect_claim));
            if (!dc) return Complete(client, -1, EFAULT);
            auto* claim = reinterpret_cast<usbdevfs_disconnect_claim*>(dc->data);
            if (claim->interface != kInterface) return Complete(client, -1, EINVAL);
            if (node.driverBound) {
                std::string asked(claim->driver, strnlen(claim->driver, sizeof claim->driver));
                bool except = claim->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER;
                bool only = claim->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER;
                if ((except && asked == faults.kernelDriver) || (only && asked != faults.kernelDriver))
                    return Complete(client, -1, EBUSY);
                node.driverBound = false;
                log("USB: kernel driver " + faults.kernelDriver + " detached from interface 0 of " + node.path);
            }
            node.claimed = true;
            return Complete(client, 0, 0);
        }
        case USBDEVFS_GETDRIVER: {
            Data gd = Resolve(arg, 0, sizeof(usbdevfs_getdriver));
            if (!gd) return Complete(client, -1, EFAULT);
            auto* get = reinterpret_cast<usbdevfs_getdriver*>(gd->data);
            if (get->interface != kInterface) return Complete(client, -1, EINVAL);
            if (!node.driverBound) return Complete(client, -1, ENODATA);
            std::snprintf(get->driver, sizeof get->driver, "%s", faults.kernelDriver.c_str());
            return Complete(client, 0, 0);
        }
        default: {  // USBDEVFS_IOCTL: a request to the interface's driver
            Data io = Resolve(arg, 0, sizeof(usbdevfs_ioctl));
            if (!io) return Complete(client, -1, EFAULT);
            auto* command = reinterpret_cast<usbdevfs_ioctl*>(io->data);
            if (command->ifno != static_cast<int>(kInterface)) return Complete(client, -1, EINVAL);
            if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                if (!node.driverBound) return Complete(client, -1, ENODATA);
                node.driverBound = false;
                log("USB: kernel driver " + faults.kernelDriver + " detached from interface 0 of " + node.path);
                return Complete(client, 0, 0);
            }
            if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
                if (node.claimed) return Complete(client, -1, EBUSY);
                if (!faults.kernelDriver.empty() && !node.driverBound) {
                    node.driverBound = true;
                    log("USB: kernel driver " + faults.kernelDriver + " bound to interface 0 of " + node.path +
                        " again");
                }
                return Complete(client, 0, 0);
            }
            return Complete(client, -1, ENOTTY);
        }
    }
}

}  // namespace vsim
