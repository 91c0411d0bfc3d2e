#include "platform/win32/port_name_win32.h"

#include <cwctype>
#include <string_view>

#include "platform/win32/wide_text.h"

namespace vantor {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

Win32PortName win32PortName(const std::string& device) {
    std::string_view rest = device;
    if (startsWithNoCase(rest, "\\\\.\\")) rest.remove_prefix(4);
    Win32PortName out;
    if (startsWithNoCase(rest, "COM") && rest.size() > 3 && rest.size() <= 6 && rest[3] != '0' &&
        rest.substr(3).find_first_not_of("0123456789") == std::string_view::npos) {
        out.comPort = true;
        const std::string path = "\\\\.\\COM" + std::string(rest.substr(3));
        out.path = widen(path);
        out.shown = path == device ? device : device + " (" + path + ")";
    } else {
        out.path = widen(device);
        out.shown = device;
    }
    return out;
}

std::wstring portClaimName(const Win32PortName& name) {
    std::wstring key = name.comPort ? name.path.substr(4) : name.path;
    for (wchar_t& c : key) {
        // A backslash would name a namespace.
        c = c == L'\\' ? L'/' : static_cast<wchar_t>(std::towupper(c));
    }
    return L"Local\\VantorComm.port." + key;
}

}  // namespace vantor
