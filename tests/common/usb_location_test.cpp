#include "common/usb_location.h"

#include <gtest/gtest.h>

namespace sealbench {
namespace {

TEST(UsbLocation, PathsBehindAPciControllerBecomeTheShortTextOthersNone) {
    const std::pair<const char*, const char*> cases[] = {
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)", "pci0.1400-3.2"},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(11)", "pci0.1400-11"},
        {"PCIROOT(0)#PCI(1C04)#PCI(0000)#USBROOT(0)#USB(1)#USB(4)#USB(2)", "pci0.1C04.0000-1.4.2"},
        {"PCIROOT(1)#PCI(0800)#USBROOT(1)#USB(5)", "pci1.0800:1-5"},
        // A hub, not a device on one; ACPI's path; an interface of a composite device; damaged paths.
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)", nullptr},
        {"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USBMI(0)", nullptr},
        {"PCIROOT(0)#PCI(14 00)#USBROOT(0)#USB(3)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB()", nullptr},
        {"", nullptr},
    };
    for (const auto& [path, text] : cases) {
        const std::optional<std::string> made = UsbLocationOfPath(path);
        if (text == nullptr) {
            EXPECT_FALSE(made.has_value()) << path << " -> " << made.value_or("");
            continue;
        }
        ASSERT_TRUE(made.has_value()) << path;
        EXPECT_EQ(*made, text);
        EXPECT_TRUE(IsUsbLocationText(*made)) << *made;
        EXPECT_TRUE(IsUsbLocationPath(path)) << path;
    }
    for (const char* notText : {"pci0.1400", "pci0.1400-", "pci-3", "pcix-3", "1-3.2", "pci0.1400-3..2", "COM3"})
        EXPECT_FALSE(IsUsbLocationText(notText)) << notText;
    EXPECT_FALSE(IsUsbLocationPath("Port_#0002.Hub_#0001"));
}

}  // namespace
}  // namespace sealbench
