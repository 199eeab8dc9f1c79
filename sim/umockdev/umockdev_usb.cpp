#include "umockdev_usb.h"

#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <stddef.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "usb_device_state.h"

namespace vsim {

namespace {

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
    auto* n = static_cast<UsbNode*>(node);
    return n->owner->HandleIoctl(*n, client);
}
void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
    auto* n = static_cast<UsbNode*>(node);
    n->owner->Connected(*n, client);
}
void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
    auto* n = static_cast<UsbNode*>(node);
    n->owner->Vanished(*n, client);
}
// Hands the first finished URB to a reap of `client`.
void Deliver(UrbQueue& done, UMockdevIoctlClient* client, UMockdevIoctlData* pointer) {
    std::unique_ptr<Urb> urb = std::move(done.front());
    done.pop_front();
    umockdev_ioctl_data_set_ptr(pointer, 0, urb->data.Get());
    umockdev_ioctl_client_complete(client, 0, 0);
}

}  // namespace

void UmockdevUsb::Impl::Plug() {
    auto node = std::make_unique<UsbNode>();
    node->owner = this;
    node->driverBound = !faults.kernelDriver.empty();
    node->handler = GObjectPtr<UMockdevIoctlBase>(umockdev_ioctl_base_new());
    g_signal_connect(node->handler.Get(), "handle-ioctl", G_CALLBACK(OnIoctl), node.get());
    g_signal_connect(node->handler.Get(), "client-connected", G_CALLBACK(OnConnected), node.get());
    g_signal_connect(node->handler.Get(), "client-vanished", G_CALLBACK(OnVanished), node.get());
    int address = nextAddress++;
    node->path = UsbNodePath(kUsbBus, address);
    UsbNode* raw = node.get();
    {
        std::lock_guard lock(mutex);
        nodes.push_back(std::move(node));
    }
    testbed.Plug(address, raw->handler.Get());
}

gboolean UmockdevUsb::Impl::HandleIoctl(UsbNode& node, UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex);
    unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            Data caps = Resolve(arg, 0, sizeof(uint32_t));
            if (!caps) return Complete(client, -1, EFAULT);
            std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
            return Complete(client, 0, 0);
        }
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            return Reap(node, client, arg, request == USBDEVFS_REAPURB);
        case USBDEVFS_DISCARDURB:
            return Discard(node, client, arg);
        default:
            break;
    }
    if (!node.present) return Complete(client, -1, ENODEV);
    switch (request) {
        case USBDEVFS_SUBMITURB:
            return Submit(node, client, arg);
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            return Driver(node, client, request, arg);
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            return Complete(client, 0, 0);
        default: {
            char text[96];
            std::snprintf(text, sizeof text, "USB: usbfs request 0x%lx is not emulated; answered ENOTTY", request);
            log(text);
            return Complete(client, -1, ENOTTY);
        }
    }
}

gboolean UmockdevUsb::Impl::Submit(UsbNode& node, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    auto urb = std::make_unique<Urb>();
    urb->data = Resolve(arg, 0, sizeof(usbdevfs_urb));
    if (!urb->data) return Complete(client, -1, EFAULT);
    usbdevfs_urb* u = urb->Get();
    if (u->type != USBDEVFS_URB_TYPE_BULK) return Complete(client, -1, EINVAL);
    if (u->endpoint != kEndpointOut && u->endpoint != kEndpointIn) return Complete(client, -1, ENOENT);
    if (u->buffer_length < 0) return Complete(client, -1, EINVAL);
    // usbfs claims the interface for a host that did not, unless a driver holds it.
    if (!node.claimed && node.driverBound) return Complete(client, -1, EBUSY);
    node.claimed = true;
    if (u->buffer_length > 0) {
        urb->buffer = Resolve(urb->data.Get(), offsetof(usbdevfs_urb, buffer), static_cast<size_t>(u->buffer_length));
        if (!urb->buffer) return Complete(client, -1, EFAULT);
    }
    u->actual_length = 0;
    u->status = 0;
    if (u->endpoint == kEndpointOut) {
        if (urb->buffer) urb->out.assign(urb->buffer->data, urb->buffer->data + u->buffer_length);
        node.outUrbs.push_back(std::move(urb));
    } else {
        node.inUrbs.push_back(std::move(urb));
    }
    Wake();
    return Complete(client, 0, 0);
}

gboolean UmockdevUsb::Impl::Reap(UsbNode& node, UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool wait) {
    Data pointer = Resolve(arg, 0, sizeof(void*));
    if (!pointer) return Complete(client, -1, EFAULT);
    if (!node.done.empty()) {
        Deliver(node.done, client, pointer.Get());
        return TRUE;
    }
    if (!node.present) return Complete(client, -1, ENODEV);
    if (client != node.host.Get() || (node.inUrbs.empty() && node.outUrbs.empty() && !wait))
        return Complete(client, -1, EAGAIN);
    if (node.reap) Complete(node.reap->client.Get(), -1, EAGAIN);
    node.reap = HeldReap{GObjectPtr<UMockdevIoctlClient>::Ref(client), std::move(pointer), std::nullopt};
    if (!wait) node.reap->until = Clock::now() + kReapHold;
    Wake();
    return TRUE;
}

gboolean UmockdevUsb::Impl::Discard(UsbNode& node, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    for (UrbQueue* queue : {&node.outUrbs, &node.inUrbs}) {
        for (auto it = queue->begin(); it != queue->end(); ++it) {
            if ((*it)->data->client_addr != address) continue;
            usbdevfs_urb* u = (*it)->Get();
            u->status = -ENOENT;
            u->actual_length = static_cast<int>((*it)->moved);
            node.done.push_back(std::move(*it));
            queue->erase(it);
            return Complete(client, 0, 0);
        }
    }
    return Complete(client, -1, EINVAL);
}

void UmockdevUsb::Impl::Connected(UsbNode& node, UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex);
    if (!node.present) return;
    // umockdev does not always tell when a host closes the device, so a host that
    // opens it takes the board over from whichever opened it before.
    Finish(node, node.outUrbs, -ENOENT);
    Finish(node, node.inUrbs, -ENOENT);
    node.done.clear();
    node.host = GObjectPtr<UMockdevIoctlClient>::Ref(client);
    std::string why;
    node.board = connect(&why);
    ++node.boardConnection;
    node.boardClosedAt.reset();
    if (!node.board.Valid()) log("USB: the host opened " + node.path + " but the board cannot be reached: " + why);
    Wake();
}

// The host closed the device: its board connection closes, what it had in flight is dropped.
void UmockdevUsb::Impl::Vanished(UsbNode& node, UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex);
    if (client != node.host.Get()) return;
    node.host.Reset();
    node.board.Reset();
    node.outUrbs.clear();
    node.inUrbs.clear();
    node.done.clear();
    node.reap.reset();
    node.claimed = false;
}

// URBs of a queue end with `status` and wait to be reaped.
void UmockdevUsb::Impl::Finish(UsbNode& node, UrbQueue& queue, int status) {
    while (!queue.empty()) {
        usbdevfs_urb* u = queue.front()->Get();
        u->status = status;
        u->actual_length = static_cast<int>(queue.front()->moved);
        node.done.push_back(std::move(queue.front()));
        queue.pop_front();
    }
}

// The device leaves the bus: what is in flight ends as the kernel ends it when a
// device disconnects, and every later request of its hosts fails with ENODEV.
void UmockdevUsb::Impl::Gone(UsbNode& node) {
    node.present = false;
    node.claimed = false;
    node.board.Reset();
    Finish(node, node.outUrbs, -ESHUTDOWN);
    Finish(node, node.inUrbs, -ESHUTDOWN);
    ServeHeldReap(node);
}

void UmockdevUsb::Impl::ServeHeldReap(UsbNode& node) {
    if (!node.reap) return;
    if (!node.done.empty()) {
        Deliver(node.done, node.reap->client.Get(), node.reap->pointer.Get());
    } else if (!node.present) {
        Complete(node.reap->client.Get(), -1, ENODEV);
    } else if (node.reap->until && Clock::now() >= *node.reap->until) {
        Complete(node.reap->client.Get(), -1, EAGAIN);
    } else {
        return;
    }
    node.reap.reset();
}

// Moves bytes between the URBs in flight and the board.
UmockdevUsb::Impl::Action UmockdevUsb::Impl::Pump(UsbNode& node, bool hangUp) {
    if (!node.present) return Action::None;
    if (node.board.Valid()) {
        int fd = node.board.Get();
        while (!node.outUrbs.empty()) {
            Urb& urb = *node.outUrbs.front();
            size_t left = urb.out.size() - urb.moved;
            if (faults.unplugAfter) {
                uint64_t budget = *faults.unplugAfter > outTaken ? *faults.unplugAfter - outTaken : 0;
                if (budget == 0 && left > 0) {
                    log("fault: USB device unplugged after " + std::to_string(outTaken) + " bulk OUT bytes");
                    Gone(node);
                    return Action::Unplug;
                }
                left = std::min<uint64_t>(left, budget);
            }
            if (left > 0) {
                ssize_t n = ::send(fd, urb.out.data() + urb.moved, left, MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
                if (n < 0) {
                    log("USB: the board's connection failed: " + std::string(std::strerror(errno)));
                    Gone(node);
                    return Action::Reenumerate;
                }
                urb.moved += static_cast<size_t>(n);
                outTaken += static_cast<uint64_t>(n);
            }
            if (urb.moved < urb.out.size()) continue;
            urb.Get()->actual_length = static_cast<int>(urb.moved);
            node.done.push_back(std::move(node.outUrbs.front()));
            node.outUrbs.pop_front();
        }
        // A bulk IN transfer ends with whatever the board has sent so far: a device
        // ends a transfer with a short packet when it has no more to send.
        while (!node.inUrbs.empty()) {
            Urb& urb = *node.inUrbs.front();
            usbdevfs_urb* u = urb.Get();
            ssize_t n = 0;
            if (u->buffer_length > 0) {
                n = ::recv(fd, urb.buffer->data, static_cast<size_t>(u->buffer_length), MSG_DONTWAIT);
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
                if (n <= 0) {
                    log(n == 0 ? std::string("USB: the board closed the connection")
                               : "USB: the board's connection failed: " + std::string(std::strerror(errno)));
                    Gone(node);
                    return Action::Reenumerate;
                }
            }
            urb.moved = static_cast<size_t>(n);
            u->actual_length = static_cast<int>(n);
            node.done.push_back(std::move(node.inUrbs.front()));
            node.inUrbs.pop_front();
        }
        if (hangUp || node.boardClosedAt) {
            int unread = 0;
            if (!node.boardClosedAt) node.boardClosedAt = Clock::now();
            if (::ioctl(fd, FIONREAD, &unread) != 0 || unread == 0 ||
                Clock::now() >= *node.boardClosedAt + kDrainGrace) {
                log("USB: the board closed the connection");
                Gone(node);
                return Action::Reenumerate;
            }
        }
    }
    ServeHeldReap(node);
    return Action::None;
}

void UmockdevUsb::Impl::Run() {
    for (;;) {
        pollfd fds[2] = {{wake.Get(), POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        int timeout = -1;
        UsbNode* node = nullptr;
        uint64_t polled = 0;
        {
            std::lock_guard lock(mutex);
            if (stop) return;
            node = Current();
            std::optional<Clock::time_point> until;
            if (node && node->board.Valid()) {
                polled = node->boardConnection;
                short events = 0;
                if (!node->inUrbs.empty()) events |= POLLIN;
                if (!node->outUrbs.empty()) events |= POLLOUT;
                // Once the board hung up, the hang-up is no news; only the grace runs out.
                if (node->boardClosedAt) {
                    until = *node->boardClosedAt + kDrainGrace;
                    if (events & POLLIN) fds[count++] = {node->board.Get(), events, 0};
                } else {
                    fds[count++] = {node->board.Get(), events, 0};
                }
            }
            if (node && node->reap && node->reap->until && (!until || *node->reap->until < *until))
                until = node->reap->until;
            if (until) {
                auto ms = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count();
                timeout = static_cast<int>(std::max<int64_t>(ms, 0));
            }
        }
        if (::poll(fds, count, timeout) < 0 && errno != EINTR) {
            log(std::string("USB: poll failed: ") + std::strerror(errno));
            return;
        }
        uint64_t drained;
        [[maybe_unused]] ssize_t n = ::read(wake.Get(), &drained, sizeof drained);
        Action action = Action::None;
        {
            std::lock_guard lock(mutex);
            if (stop) return;
            if (node && node == Current()) {
                bool hangUp = count > 1 && (fds[1].revents & (POLLHUP | POLLERR)) && polled == node->boardConnection;
                action = Pump(*node, hangUp);
            }
        }
        if (action == Action::None) continue;
        testbed.Unplug();
        if (action == Action::Unplug) {
            unplugged = true;
            continue;
        }
        Plug();
        log("USB: the device re-enumerated as " + nodes.back()->path);
    }
}

UmockdevUsb::UmockdevUsb(ConnectBoard connect, UsbDeviceFaults faults, Log log)
    : impl_(std::make_unique<Impl>(std::move(connect), std::move(faults), std::move(log))) {
    if (!impl_->wake.Valid())
        throw std::runtime_error(std::string("cannot create an eventfd: ") + std::strerror(errno));
    impl_->Plug();
    impl_->thread = std::thread([this] { impl_->Run(); });
}

UmockdevUsb::~UmockdevUsb() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stop = true;
        // Hosts still waiting hear of a device that is gone rather than of nothing.
        for (auto& node : impl_->nodes) impl_->Gone(*node);
    }
    impl_->Wake();
    impl_->thread.join();
}

const std::string& UmockdevUsb::Dir() const { return impl_->testbed.Dir(); }

}  // namespace vsim
