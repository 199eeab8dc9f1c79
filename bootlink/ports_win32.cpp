// Serial ports on Windows: the names come from the registry's SERIALCOMM map,
// which every serial driver fills with the ports present now (USB adapters
// included, and Wine's ports too); what Device Manager knows of each (its friendly
// name, the USB device's ids and serial number) is added from SetupAPI's Ports
// class where the port has a device there.
#include "common/win32_support.h"
// After windows.h:
#include <setupapi.h>

#include <algorithm>
#include <cwctype>
#include <map>

#include "ports.h"
#include "ports_win32.h"

namespace bootwire {
namespace {

using sealbench::win32::Narrow;

// GUID_DEVCLASS_PORTS
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::wstring Upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

// "COM12" -> 12; 0 for names without a number, which then sort after the rest.
unsigned ComNumber(const std::string& name) {
    if (name.size() <= 3 || name.compare(0, 3, "COM") != 0) {
        return 0;
    }
    unsigned number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 100000) {
            return 0;
        }
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return number;
}

std::wstring StringProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
    DWORD type = 0;
    DWORD size = 0;
    ::SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, nullptr, 0, &size);
    if (size == 0 || (type != REG_SZ && type != REG_MULTI_SZ)) {
        return {};
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    if (!::SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, reinterpret_cast<BYTE*>(buffer.data()), size,
                                             nullptr)) {
        return {};
    }
    return buffer.data();  // the first of a list
}

// The port name a device of the Ports class was given ("COM3"), from its device key.
std::wstring PortNameOf(HDEVINFO set, SP_DEVINFO_DATA* device) {
    HKEY key = ::SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    wchar_t value[64] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    std::wstring name;
    if (::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        name = value;
    }
    ::RegCloseKey(key);
    return name;
}

uint16_t HexAfter(const std::wstring& id, const wchar_t* tag) {
    size_t at = id.find(tag);
    if (at == std::wstring::npos) {
        return 0;
    }
    at += wcslen(tag);
    unsigned value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        if (i >= id.size() || !std::iswxdigit(id[i])) {
            return 0;
        }
        value =
            value * 16 + static_cast<unsigned>(std::iswdigit(id[i]) ? id[i] - L'0' : std::towupper(id[i]) - L'A' + 10);
    }
    return static_cast<uint16_t>(value);
}

}  // namespace

void AddDeviceDetails(const std::wstring& hardwareId, const std::wstring& instanceId, const std::wstring& friendlyName,
                      PortInfo* port) {
    // "USB\VID_0403&PID_6001\A10KZ3" or FTDI's "FTDIBUS\VID_0403+PID_6001+A10KZ3A\0000".
    const std::wstring id = Upper(hardwareId);
    port->usbVendor = HexAfter(id, L"VID_");
    port->usbProduct = HexAfter(id, L"PID_");
    const std::wstring instance = Upper(instanceId);
    if (port->usbVendor != 0 && instance.compare(0, 4, L"USB\\") == 0) {
        // Windows makes up an instance id with '&' in it when the device has no serial number.
        std::wstring last = instanceId.substr(instanceId.rfind(L'\\') + 1);
        if (last.find(L'&') == std::wstring::npos) {
            port->usbSerial = Narrow(last);
        }
    }
    // "USB Serial Port (COM3)": the name is the port's own and says nothing more.
    std::wstring description = friendlyName;
    const std::wstring suffix = L" (" + std::wstring(port->name.begin(), port->name.end()) + L")";
    if (description.size() > suffix.size() &&
        description.compare(description.size() - suffix.size(), suffix.size(), suffix) == 0) {
        description.resize(description.size() - suffix.size());
    }
    port->description = Narrow(description);
}

std::vector<PortInfo> ListSystemSerialPorts() {
    std::vector<PortInfo> ports;
    HKEY map = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) != ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t device[256] = {};
        wchar_t name[64] = {};
        DWORD deviceSize = sizeof device / sizeof device[0];
        DWORD nameSize = sizeof name - sizeof(wchar_t);
        DWORD type = 0;
        LONG r = ::RegEnumValueW(map, i, device, &deviceSize, nullptr, &type, reinterpret_cast<BYTE*>(name), &nameSize);
        if (r == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (r != ERROR_SUCCESS || type != REG_SZ || name[0] == L'\0') {
            continue;
        }
        PortInfo port;
        port.kind = PortInfo::Kind::Serial;
        port.name = Narrow(name);
        ports.push_back(std::move(port));
    }
    ::RegCloseKey(map);

    HDEVINFO set = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
            const std::string name = Narrow(PortNameOf(set, &device));
            auto port = std::find_if(ports.begin(), ports.end(), [&](const PortInfo& p) { return p.name == name; });
            if (name.empty() || port == ports.end()) {
                continue;
            }
            wchar_t instance[512] = {};
            if (!::SetupDiGetDeviceInstanceIdW(set, &device, instance, sizeof instance / sizeof instance[0], nullptr)) {
                instance[0] = L'\0';
            }
            std::wstring friendly = StringProperty(set, &device, SPDRP_FRIENDLYNAME);
            if (friendly.empty()) {
                friendly = StringProperty(set, &device, SPDRP_DEVICEDESC);
            }
            AddDeviceDetails(StringProperty(set, &device, SPDRP_HARDWAREID), instance, friendly, &*port);
        }
        ::SetupDiDestroyDeviceInfoList(set);
    }
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        unsigned x = ComNumber(a.name);
        unsigned y = ComNumber(b.name);
        if ((x == 0) != (y == 0)) {
            return x != 0;
        }
        return x != y ? x < y : a.name < b.name;
    });
    ports.erase(
        std::unique(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) { return a.name == b.name; }),
        ports.end());
    return ports;
}

}  // namespace bootwire
