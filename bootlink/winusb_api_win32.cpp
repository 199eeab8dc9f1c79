// SetupAPI and WinUSB for the WinUSB driver layer. A boot device is any present
// USB device whose hardware id names the vendor and product; it can be opened when
// WinUSB is its driver (installed by an INF or by Zadig). It is opened through
// the device interface its WinUSB installation registered, or else through the
// generic USB device interface, which reaches the same driver on a device with
// one function.
#include "common/win32_support.h"
// After windows.h:
#include <objbase.h>
#include <setupapi.h>
#include <winusb.h>
// The property keys are defined here, not only declared.
#include <initguid.h>
// After initguid.h:
#include <devpkey.h>

#include <algorithm>
#include <cwctype>

#include "winusb_api.h"

namespace bootwire::usb {
namespace {

using sealbench::win32::Narrow;
using sealbench::win32::SystemMessage;
using sealbench::win32::UniqueHandle;
using sealbench::win32::Widen;

// Older SDK headers lack it.
constexpr DWORD kErrorNoSuchDevice = 433;

// GUID_DEVINTERFACE_USB_DEVICE
constexpr GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

WinUsbStatus Failed(Error error, const std::string& what, DWORD code) { return {error, what + SystemMessage(code)}; }

Error ErrorOfTransfer(DWORD code) {
    switch (code) {
        case ERROR_SEM_TIMEOUT:
            return Error::Timeout;
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case kErrorNoSuchDevice:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_INVALID_HANDLE:
            return Error::Gone;
        default:
            return Error::Io;
    }
}

std::wstring Upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

// A REG_MULTI_SZ or REG_SZ device property as strings.
std::vector<std::wstring> StringsProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
    DWORD type = 0;
    DWORD size = 0;
    ::SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, nullptr, 0, &size);
    if (size == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    if (!::SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, reinterpret_cast<BYTE*>(buffer.data()), size,
                                             nullptr)) {
        return {};
    }
    std::vector<std::wstring> strings;
    for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) {
        strings.emplace_back(p);
    }
    return strings;
}

// A string-list device property (DEVPROP_TYPE_STRING_LIST) as strings.
std::vector<std::wstring> StringListProperty(HDEVINFO set, SP_DEVINFO_DATA* device, const DEVPROPKEY& key) {
    DEVPROPTYPE type = 0;
    DWORD size = 0;
    ::SetupDiGetDevicePropertyW(set, device, &key, &type, nullptr, 0, &size, 0);
    if (size == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    if (!::SetupDiGetDevicePropertyW(set, device, &key, &type, reinterpret_cast<BYTE*>(buffer.data()), size, nullptr,
                                     0) ||
        type != DEVPROP_TYPE_STRING_LIST) {
        return {};
    }
    std::vector<std::wstring> strings;
    for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) {
        strings.emplace_back(p);
    }
    return strings;
}

std::wstring First(const std::vector<std::wstring>& strings) { return strings.empty() ? std::wstring() : strings[0]; }

// "USB\VID_2B4E&PID_7A31\0123ABC" ends in the device's serial number; Windows makes up
// one with '&' in it for a device that has none.
std::string SerialOf(const std::wstring& instance) {
    size_t slash = instance.rfind(L'\\');
    std::wstring last = slash == std::wstring::npos ? std::wstring() : instance.substr(slash + 1);
    return last.find(L'&') == std::wstring::npos ? Narrow(last) : std::string();
}

std::wstring InstanceId(HDEVINFO set, SP_DEVINFO_DATA* device) {
    wchar_t id[512] = {};
    if (!::SetupDiGetDeviceInstanceIdW(set, device, id, sizeof id / sizeof id[0], nullptr)) {
        return L"?";
    }
    return id;
}

// The first present interface of `guid` on the device instance, or "".
std::wstring InterfacePath(const GUID& guid, const wchar_t* instance) {
    HDEVINFO set = ::SetupDiGetClassDevsW(&guid, instance, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::wstring path;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data)) {
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        std::vector<uint8_t> buffer(std::max<DWORD>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, static_cast<DWORD>(buffer.size()), nullptr,
                                               nullptr)) {
            path = detail->DevicePath;
        }
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return path;
}

// The interface GUID that a WinUSB installation registered for the device.
bool RegisteredInterface(HDEVINFO set, SP_DEVINFO_DATA* device, GUID* guid) {
    HKEY key = ::SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool found = false;
    for (const wchar_t* name : {L"DeviceInterfaceGUIDs", L"DeviceInterfaceGUID"}) {
        wchar_t value[256] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        if (!found &&
            ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS) {
            found = SUCCEEDED(::CLSIDFromString(value, guid));  // the first of a list
        }
    }
    ::RegCloseKey(key);
    return found;
}

class SystemInterface final : public WinUsbInterface {
public:
    SystemInterface(UniqueHandle file, WINUSB_INTERFACE_HANDLE usb) : file_(std::move(file)), usb_(usb) {}
    ~SystemInterface() override { ::WinUsb_Free(usb_); }

    WinUsbStatus SetPipeTimeout(uint8_t pipe, uint32_t milliseconds) override {
        ULONG value = milliseconds;
        if (!::WinUsb_SetPipePolicy(usb_, pipe, PIPE_TRANSFER_TIMEOUT, sizeof value, &value)) {
            return Failed(Error::Driver, "", ::GetLastError());
        }
        return {};
    }

    WinUsbStatus ReadPipe(uint8_t pipe, uint8_t* buffer, uint32_t n, uint32_t* moved) override {
        ULONG done = 0;
        BOOL ok = ::WinUsb_ReadPipe(usb_, pipe, buffer, n, &done, nullptr);
        *moved = done;
        return ok ? WinUsbStatus{} : TransferFailed("reading", ::GetLastError());
    }

    WinUsbStatus WritePipe(uint8_t pipe, const uint8_t* buffer, uint32_t n, uint32_t* moved) override {
        ULONG done = 0;
        BOOL ok = ::WinUsb_WritePipe(usb_, pipe, const_cast<uint8_t*>(buffer), n, &done, nullptr);
        *moved = done;
        return ok ? WinUsbStatus{} : TransferFailed("writing", ::GetLastError());
    }

private:
    static WinUsbStatus TransferFailed(const char* what, DWORD code) {
        return Failed(ErrorOfTransfer(code), std::string(what) + " failed: ", code);
    }

    UniqueHandle file_;
    WINUSB_INTERFACE_HANDLE usb_;
};

class SystemWinUsb final : public WinUsbApi {
public:
    WinUsbStatus FindDevices(uint16_t vendor, uint16_t product, std::vector<WinUsbCandidate>* found) override {
        found->clear();
        HDEVINFO set =
            ::SetupDiGetClassDevsW(&kUsbDeviceInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            return Failed(Error::Driver, "cannot list the USB devices: ", ::GetLastError());
        }
        wchar_t wanted[32];
        swprintf(wanted, sizeof wanted / sizeof wanted[0], L"USB\\VID_%04X&PID_%04X", vendor, product);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
            auto ids = StringsProperty(set, &device, SPDRP_HARDWAREID);
            bool match = std::any_of(ids.begin(), ids.end(), [&](const std::wstring& id) {
                return Upper(id).compare(0, wcslen(wanted), wanted) == 0;
            });
            if (!match) {
                continue;
            }
            WinUsbCandidate candidate;
            std::wstring instance = InstanceId(set, &device);
            candidate.instance = Narrow(instance);
            auto service = StringsProperty(set, &device, SPDRP_SERVICE);
            candidate.winusb = !service.empty() && Upper(service.front()) == L"WINUSB";
            GUID registered{};
            std::wstring path;
            if (RegisteredInterface(set, &device, &registered)) {
                path = InterfacePath(registered, instance.c_str());
            }
            if (path.empty()) {
                path = InterfacePath(kUsbDeviceInterface, instance.c_str());
            }
            candidate.path = Narrow(path);
            for (const std::wstring& place : StringListProperty(set, &device, DEVPKEY_Device_LocationPaths)) {
                candidate.locationPaths.push_back(Narrow(place));
            }
            candidate.hubPort = Narrow(First(StringsProperty(set, &device, SPDRP_LOCATION_INFORMATION)));
            candidate.serial = SerialOf(instance);
            candidate.product = Narrow(First(StringsProperty(set, &device, SPDRP_FRIENDLYNAME)));
            if (candidate.product.empty()) {
                candidate.product = Narrow(First(StringsProperty(set, &device, SPDRP_DEVICEDESC)));
            }
            found->push_back(std::move(candidate));
        }
        ::SetupDiDestroyDeviceInfoList(set);
        return {};
    }

    std::unique_ptr<WinUsbInterface> Open(const std::string& path, WinUsbStatus* status) override {
        UniqueHandle file(::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
        if (!file.Valid()) {
            DWORD code = ::GetLastError();
            switch (code) {
                case ERROR_ACCESS_DENIED:
                case ERROR_SHARING_VIOLATION:
                    *status = Failed(Error::Busy, "another program holds the device: ", code);
                    break;
                case ERROR_FILE_NOT_FOUND:
                case ERROR_PATH_NOT_FOUND:
                    *status = Failed(Error::Gone, "the device went away: ", code);
                    break;
                default:
                    *status = Failed(Error::Driver, "cannot open the device: ", code);
                    break;
            }
            return nullptr;
        }
        WINUSB_INTERFACE_HANDLE usb = nullptr;
        if (!::WinUsb_Initialize(file.Get(), &usb)) {
            *status = Failed(Error::Driver, "WinUSB refused the device (is WinUSB its driver?): ", ::GetLastError());
            return nullptr;
        }
        return std::make_unique<SystemInterface>(std::move(file), usb);
    }
};

}  // namespace

std::shared_ptr<WinUsbApi> MakeSystemWinUsbApi() { return std::make_shared<SystemWinUsb>(); }

std::unique_ptr<Driver> MakePlatformDriver() { return MakeWinUsbDriver(MakeSystemWinUsbApi()); }

}  // namespace bootwire::usb
