#include "platform/win32/file_errors.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/file_system.h"
#include "platform/win32/wide_text.h"

namespace vantor {

namespace {

RuntimeError described(ErrorNumber number, const std::string& path, const std::string& why) {
    return RuntimeError(number, standardDescription(number) + ": " + path + why);
}

std::string systemText(unsigned long err) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n > 0 ? narrow(std::wstring_view(text, n)) : "";
    if (text != nullptr) ::LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == '.' || out.back() == ' ')) {
        out.pop_back();
    }
    return out.empty() ? "system error " + std::to_string(err) : out;
}

bool parentExists(const std::string& path) {
    return isFolder(folderOf(path));
}

}  // namespace

bool isFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    }
    // The root of a drive keeps its slash: "C:" alone is that drive's current folder.
    if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

RuntimeError fileErrorFromWin32(unsigned long err, const std::string& path, bool forInput) {
    switch (err) {
        case ERROR_FILE_NOT_FOUND:
            if (forInput && parentExists(path)) return described(kErrFileNotFound, path, "");
            [[fallthrough]];
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return described(kErrPathNotFound, path,
                             " (the folder " + folderOf(path) + " does not exist)");
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_NETWORK_ACCESS_DENIED:
            // Win32 refuses to open a folder as a file with "access denied".
            if (isFolder(path)) return described(kErrPathFileAccess, path, " is a folder");
            return described(kErrPermissionDenied, path,
                             forInput ? " (no read access)" : " (no write access)");
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return described(kErrPermissionDenied, path, " (in use by another program)");
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return described(kErrDiskFull, path, "");
        case ERROR_TOO_MANY_OPEN_FILES:
            return described(kErrTooManyFiles, path, "");
        default:
            return described(kErrPathFileAccess, path, " (" + systemText(err) + ")");
    }
}

RuntimeError writeErrorFromWin32(unsigned long err, const std::string& path) {
    // The C runtime's words for it, as on POSIX: one text for one cause.
    if (err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL) {
        return described(kErrDiskFull, path, std::string(" (") + std::strerror(ENOSPC) + ")");
    }
    return fileErrorFromWin32(err, path, false);
}

RuntimeError fileErrorFromErrno(int err, bool forInput, bool parentFound, const std::string& path) {
    switch (err) {
        case ENOENT:
            if (forInput && parentFound) return described(kErrFileNotFound, path, "");
            return described(kErrPathNotFound, path,
                             " (the folder " + folderOf(path) + " does not exist)");
        case ENOTDIR:
            return described(kErrPathNotFound, path, " (a part of the path is not a folder)");
        case EACCES:
        case EPERM:
            if (isFolder(path)) return described(kErrPathFileAccess, path, " is a folder");
            return described(kErrPermissionDenied, path,
                             forInput ? " (no read access)" : " (no write access)");
        case ENOSPC:
        case EFBIG:
            return described(kErrDiskFull, path, "");
        case EMFILE:
        case ENFILE:
            return described(kErrTooManyFiles, path, "");
        default:
            return described(kErrPathFileAccess, path,
                             std::string(" (") + std::strerror(err) + ")");
    }
}

RuntimeError fileError(int err, const std::string& path, bool forInput) {
    return fileErrorFromErrno(err, forInput, parentExists(path), path);
}

}  // namespace vantor
