#include "platform/win32/message_sink_win32.h"

#include <cstdio>
#include <string>

#include "platform/win32/wide_text.h"

namespace vantor {

namespace {

// A service, or a session without a desktop, has nobody to press OK.
bool interactiveDesktop() {
    USEROBJECTFLAGS flags{};
    HWINSTA station = ::GetProcessWindowStation();
    return station != nullptr &&
           ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

// The program's name, as the box's title.
std::wstring programName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, n);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    const auto dot = name.find_last_of(L'.');
    return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

void toStandardError(const std::string& text) {
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (err != nullptr && err != INVALID_HANDLE_VALUE && ::GetConsoleMode(err, &mode)) {
        // A console shows UTF-16 whatever its code page.
        const std::wstring line = widen(text) + L"\n";
        DWORD written = 0;
        if (::WriteConsoleW(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
            return;
        }
    }
    ConsoleMessageSink().show(text);
}

}  // namespace

void Win32MessageSink::show(const std::string& text) {
    if (owner_ == nullptr && (::GetConsoleWindow() != nullptr || !interactiveDesktop())) {
        toStandardError(text);
        return;
    }
    const UINT style = MB_OK | (owner_ == nullptr ? MB_TASKMODAL : 0);
    // No box could be shown (no display: Wine answers -1, Windows 0); the
    // text must still go somewhere.
    if (::MessageBoxW(owner_, widen(text).c_str(), programName().c_str(), style) <= 0) {
        toStandardError(text);
    }
}

}  // namespace vantor
