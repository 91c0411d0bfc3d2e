// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on
#include <vantor/port_list.h>

#include <algorithm>
#include <map>

#include "platform/win32/port_name_win32.h"
#include "platform/win32/wide_text.h"

namespace vantor {

namespace {

// The ports' devices as SetupAPI has them, by port name (COM5).
struct DeviceFacts {
    std::string description, manufacturer, driver, serialNumber;
    std::optional<std::uint16_t> vendorId, productId;
};

std::wstring property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD which) {
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, which, &type,
                                             reinterpret_cast<BYTE*>(buffer),
                                             sizeof buffer - sizeof(wchar_t), nullptr)) {
        return {};
    }
    return buffer;  // the first string of a REG_MULTI_SZ
}

std::optional<std::uint16_t> hexAfter(const std::wstring& text, const std::wstring& key) {
    const auto at = text.find(key);
    if (at == std::wstring::npos || at + key.size() + 4 > text.size()) return std::nullopt;
    try {
        return static_cast<std::uint16_t>(std::stoul(text.substr(at + key.size(), 4), nullptr, 16));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string portNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const bool ok = ::RegQueryValueExW(key, L"PortName", nullptr, &type,
                                       reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
    ::RegCloseKey(key);
    return ok ? narrow(name) : std::string();
}

std::map<std::string, DeviceFacts> portDevices() {
    std::map<std::string, DeviceFacts> out;
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return out;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const std::string port = portNameOf(set, device);
        if (port.empty()) continue;
        DeviceFacts facts;
        facts.description = narrow(property(set, device, SPDRP_FRIENDLYNAME));
        if (facts.description.empty())
            facts.description = narrow(property(set, device, SPDRP_DEVICEDESC));
        facts.manufacturer = narrow(property(set, device, SPDRP_MFG));
        facts.driver = narrow(property(set, device, SPDRP_SERVICE));
        const std::wstring hardware = property(set, device, SPDRP_HARDWAREID);
        facts.vendorId = hexAfter(hardware, L"VID_");
        facts.productId = hexAfter(hardware, L"PID_");
        wchar_t instance[512] = {};
        if (facts.vendorId && ::SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr)) {
            // USB\VID_0403&PID_6001\A1B2C3: the last part is the serial
            // number when the device has one (a made-up one holds '&').
            const std::wstring id = instance;
            const std::wstring last = id.substr(id.find_last_of(L'\\') + 1);
            if (last.find(L'&') == std::wstring::npos) facts.serialNumber = narrow(last);
        }
        out[port] = std::move(facts);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return out;
}

// The ports the serial drivers have announced.
std::vector<std::string> announcedPorts() {
    std::vector<std::string> out;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS) {
        return out;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameSize = 256;
        wchar_t data[64] = {};
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = ::RegEnumValueW(key, i, name, &nameSize, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r == ERROR_SUCCESS && type == REG_SZ && data[0] != L'\0') out.push_back(narrow(data));
    }
    ::RegCloseKey(key);
    return out;
}

int portNumber(const std::string& name) {
    const auto digits = name.find_first_of("0123456789");
    return digits == std::string::npos ? 0 : std::atoi(name.c_str() + digits);
}

}  // namespace

std::vector<SerialPortEntry> listSerialPorts(bool openFiles) {
    std::vector<std::string> ports = announcedPorts();
    const std::map<std::string, DeviceFacts> devices = portDevices();
    for (const auto& entry : devices) {
        if (std::find(ports.begin(), ports.end(), entry.first) == ports.end()) {
            ports.push_back(entry.first);
        }
    }
    std::vector<SerialPortEntry> out;
    for (const std::string& port : ports) {
        SerialPortEntry e;
        e.device = port;
        if (auto it = devices.find(port); it != devices.end()) {
            e.description = it->second.description;
            e.manufacturer = it->second.manufacturer;
            e.driver = it->second.driver;
            e.serialNumber = it->second.serialNumber;
            e.vendorId = it->second.vendorId;
            e.productId = it->second.productId;
        }
        const Win32PortName name = win32PortName(port);
        if (HANDLE claim = ::OpenMutexW(SYNCHRONIZE, FALSE, portClaimName(name).c_str())) {
            ::CloseHandle(claim);
            e.busy = true;
            e.busyBy = "a download on this computer";
        } else if (openFiles) {
            // The driver lets one handle in: a refusal says another program has it.
            HANDLE h = ::CreateFileW(name.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
            const DWORD error = ::GetLastError();
            if (h != INVALID_HANDLE_VALUE) {
                ::CloseHandle(h);
            } else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
                e.busy = true;
                e.busyBy = "another program (opening it was refused)";
            }
        }
        out.push_back(std::move(e));
    }
    std::sort(out.begin(), out.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
        return portNumber(a.device) != portNumber(b.device)
                   ? portNumber(a.device) < portNumber(b.device)
                   : a.device < b.device;
    });
    return out;
}

}  // namespace vantor
