// Hot-plug of USB boot devices through libusb, where the platform has it
// (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)): the events only wake the
// slots, which then look through Bootwire's own listing.
#include <libusb.h>

#include <atomic>
#include <thread>

#include "station/usb_boards.h"

namespace sealbench {

namespace {

constexpr int kVendor = 0x2B4E;
constexpr int kProduct = 0x7A31;

class LibusbHotplug final : public UsbHotplug {
public:
    LibusbHotplug(libusb_context* context, std::function<void()> changed)
        : context_(context), changed_(std::move(changed)) {}

    bool Register() {
        const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        if (libusb_hotplug_register_callback(context_, static_cast<libusb_hotplug_event>(events),
                                             LIBUSB_HOTPLUG_NO_FLAGS, kVendor, kProduct, LIBUSB_HOTPLUG_MATCH_ANY,
                                             &LibusbHotplug::Event, this, &handle_) != LIBUSB_SUCCESS)
            return false;
        registered_ = true;
        thread_ = std::thread([this] {
            while (!stopping_) {
                timeval wait{1, 0};
                libusb_handle_events_timeout_completed(context_, &wait, nullptr);
            }
        });
        return true;
    }

    ~LibusbHotplug() override {
        stopping_ = true;
        if (registered_) libusb_hotplug_deregister_callback(context_, handle_);
        libusb_interrupt_event_handler(context_);
        if (thread_.joinable()) thread_.join();
        libusb_exit(context_);
    }

private:
    static int LIBUSB_CALL Event(libusb_context*, libusb_device*, libusb_hotplug_event, void* self) {
        static_cast<LibusbHotplug*>(self)->changed_();
        return 0;  // stay registered
    }

    libusb_context* context_;
    std::function<void()> changed_;
    libusb_hotplug_callback_handle handle_ = 0;
    bool registered_ = false;
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<UsbHotplug> UsbHotplug::Start(std::function<void()> changed) {
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return nullptr;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) return nullptr;
    auto hotplug = std::make_unique<LibusbHotplug>(context, std::move(changed));
    if (!hotplug->Register()) return nullptr;  // the destructor ends the context
    return hotplug;
}

}  // namespace sealbench
