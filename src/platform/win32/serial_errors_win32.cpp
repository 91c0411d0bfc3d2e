#include "platform/win32/serial_errors_win32.h"

#include "platform/serial_errors.h"
#include "platform/win32/wide_text.h"

namespace vantor {

std::string systemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    if (text != nullptr) ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' ||
                             wide.back() == L'.')) {
        wide.pop_back();
    }
    return wide.empty() ? "system error " + std::to_string(error) : narrow(wide);
}

RuntimeError serialOpenError(DWORD error, const std::string& shown, bool comPort) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return serialError(SerialFailure::Missing, shown);
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NOT_READY:
        case ERROR_DEVICE_NOT_CONNECTED:
            return serialError(SerialFailure::Missing, shown, systemText(error));
        case ERROR_SHARING_VIOLATION:
            return serialError(SerialFailure::Busy, shown);
        case ERROR_ACCESS_DENIED:
            // A serial driver lets one handle in: the others are refused this way.
            if (comPort) return serialError(SerialFailure::Busy, shown);
            return RuntimeError(kErrPermissionDenied,
                                "Permission denied: " + shown + " (" + systemText(error) + ")");
        default:
            return serialError(SerialFailure::Other, shown, systemText(error));
    }
}

RuntimeError serialLostError(DWORD error, const std::string& shown) {
    return serialError(SerialFailure::Lost, shown, systemText(error));
}

}  // namespace vantor
