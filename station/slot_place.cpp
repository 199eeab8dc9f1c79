#include "station/slot_place.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "common/usb_location.h"

namespace sealbench {

namespace {

bool Digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "BUS-PORT[.PORT...]", as libusb's bus number and port path make it.
bool BusLocation(std::string_view text) {
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos || !Digits(text.substr(0, dash))) return false;
    std::string_view ports = text.substr(dash + 1);
    for (;;) {
        const size_t dot = ports.find('.');
        if (!Digits(ports.substr(0, dot))) return false;
        if (dot == std::string_view::npos) return true;
        ports = ports.substr(dot + 1);
    }
}

// "Port_#0002.Hub_#0001", as Windows names a hub port.
bool HubLocation(std::string_view text) {
    const std::string_view port = "Port_#", hub = ".Hub_#";
    if (text.substr(0, port.size()) != port) return false;
    const size_t at = text.find(hub);
    return at != std::string_view::npos && Digits(text.substr(port.size(), at - port.size())) &&
           Digits(text.substr(at + hub.size()));
}

// The form two spellings of one place share.
std::string Canonical(const SlotPlace& place) {
    if (place.kind == SlotPlace::Kind::Usb) {
        if (std::optional<std::string> text = UsbLocationOfPath(place.text)) return *text;
    }
    if (place.kind != SlotPlace::Kind::Serial || place.text.find("://") != std::string::npos) return place.text;
    std::string text = std::filesystem::path(place.text).lexically_normal().generic_string();
    // COM3, com3 and 3 are one port on Windows; lower-casing a POSIX path would merge different ones.
    if (text.size() > 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(text[2])) == 'M' && Digits(text.substr(3)))
        text = text.substr(3);
    return text;
}

}  // namespace

Result<SlotPlace> ParseSlotPlace(std::string_view text) {
    Result<SlotPlace> result;
    if (text.empty()) {
        result.outcome = Outcome::Failure(FailureKind::Input,
                                          "a slot needs a place: a serial port path, a USB location as `ports` "
                                          "lists it, or sim:NAME");
        return result;
    }
    result.value.text = std::string(text);
    const std::string_view sim = "sim:";
    if (text.substr(0, sim.size()) == sim) {
        const std::string_view name = text.substr(sim.size());
        if (name.empty() || name.find('/') != std::string_view::npos) {
            result.outcome = Outcome::Failure(FailureKind::Input,
                                              "bad slot \"" + std::string(text) +
                                                  "\": a virtual board's place is sim:NAME, NAME being its socket's "
                                                  "name in the BOOTWIRE_USB_SIM folder (or HOST:PORT)");
            return result;
        }
        result.value.kind = SlotPlace::Kind::VirtualUsb;
    } else if (BusLocation(text) || HubLocation(text) || IsUsbLocationText(text) || IsUsbLocationPath(text)) {
        result.value.kind = SlotPlace::Kind::Usb;
    } else {
        result.value.kind = SlotPlace::Kind::Serial;
    }
    return result;
}

Result<std::vector<SlotPlace>> ParseSlotPlaces(const std::vector<std::string>& texts) {
    Result<std::vector<SlotPlace>> result;
    for (const std::string& text : texts) {
        Result<SlotPlace> place = ParseSlotPlace(text);
        if (!place.Ok()) {
            result.outcome = place.outcome;
            result.value.clear();
            return result;
        }
        const std::string canonical = Canonical(place.value);
        for (const SlotPlace& earlier : result.value) {
            if (earlier.kind == place.value.kind && Canonical(earlier) == canonical) {
                result.outcome = Outcome::Failure(
                    FailureKind::Input, "two slots at one place: \"" + earlier.text + "\" and \"" + text + "\"");
                result.value.clear();
                return result;
            }
        }
        result.value.push_back(std::move(place.value));
    }
    return result;
}

}  // namespace sealbench
