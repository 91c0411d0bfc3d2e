#include "platform/file_system.h"

#include <io.h>
#include <windows.h>

#include <random>

#include "platform/win32/file_errors.h"
#include "platform/win32/wide_text.h"

namespace vantor {

namespace {

// Opened for nothing but its kind and identity; a folder too.
HANDLE openToLook(const std::string& path) {
    return ::CreateFileW(widen(path).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

FileKind kindOf(const std::string& path) {
    const HANDLE h = openToLook(path);
    if (h == INVALID_HANDLE_VALUE) return FileKind::Missing;
    FileKind kind = FileKind::Device;
    switch (::GetFileType(h)) {
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION info{};
            const bool folder = ::GetFileInformationByHandle(h, &info) &&
                                (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            kind = folder ? FileKind::Folder : FileKind::Regular;
            break;
        }
        case FILE_TYPE_PIPE:
            kind = FileKind::Pipe;
            break;
        default:
            break;
    }
    ::CloseHandle(h);
    return kind;
}

std::optional<FileIdentity> identityOf(const std::string& path) {
    const HANDLE h = openToLook(path);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    if (!ok) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

bool syncFolderOf(const std::string&) {
    // A folder's names reach the disk with its files (and MOVEFILE_WRITE_THROUGH).
    return true;
}

SystemFile createTemporaryBeside(const std::string& path, std::string& temporary) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int tries = 0; tries < 100; ++tries) {
        temporary = path + ".";
        for (int i = 0; i < 6; ++i) temporary += kLetters[random() % (sizeof kLetters - 1)];
        SystemFile file = SystemFile::createNew(temporary);
        if (file) return file;
    }
    throw fileErrorFromWin32(ERROR_FILE_EXISTS, path, false);
}

void replaceWith(const std::string& temporary, const std::string& path) {
    if (!::MoveFileExW(widen(temporary).c_str(), widen(path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        throw fileErrorFromWin32(::GetLastError(), path, false);
    }
}

bool moveToFree(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING a name that is taken stays as it is.
    if (::MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD err = ::GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return false;
    throw fileErrorFromWin32(err, to, false);
}

bool removeFile(const std::string& path) {
    return ::DeleteFileW(widen(path).c_str()) != 0;
}

int openStream(const std::string& path) {
    // On Windows a path is always a file.
    if (isFolder(path)) {
        throw RuntimeError(kErrPathFileAccess,
                           standardDescription(kErrPathFileAccess) + ": " + path + " is a folder");
    }
    return -1;
}

int createSpool(const std::string& path, std::string&) {
    return openStream(path);
}

bool deliverSpool(const std::string&, const std::string&) {
    return false;
}

bool dropSpool(const std::string&) {
    return false;
}

std::FILE* writeStreamOf(int descriptor) {
    return ::_fdopen(descriptor, "wb");
}

void closeDescriptor(int descriptor) {
    if (descriptor >= 0) ::_close(descriptor);
}

}  // namespace vantor
