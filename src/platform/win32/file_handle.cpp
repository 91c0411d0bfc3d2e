#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/system_file.h"
#include "platform/win32/file_errors.h"
#include "platform/win32/wide_text.h"

namespace vantor {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t valueOf(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

FileKind kindOfHandle(HANDLE h) {
    switch (::GetFileType(h)) {
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION info{};
            if (::GetFileInformationByHandle(h, &info) &&
                (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                return FileKind::Folder;
            }
            return FileKind::Regular;
        }
        case FILE_TYPE_PIPE:
            return FileKind::Pipe;
        default:
            return FileKind::Device;
    }
}

HANDLE open(const std::string& path, DWORD access, DWORD disposition) {
    return ::CreateFileW(widen(path).c_str(), access, kShareAll, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A byte far past any data a file holds: locking it keeps a second writer
// out without refusing readers the bytes that are there.
constexpr DWORD kLockLow = 0xFFFFFFFE;
constexpr DWORD kLockHigh = 0x7FFFFFFF;

}  // namespace

SystemFile SystemFile::openInput(const std::string& path) {
    const HANDLE h = open(path, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) throw fileErrorFromWin32(::GetLastError(), path, true);
    SystemFile file(valueOf(h), path, kindOfHandle(h));
    if (file.kind() == FileKind::Pipe) file.close();
    return file;
}

SystemFile SystemFile::openOutput(const std::string& path, bool& created) {
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD err = ERROR_FILE_NOT_FOUND;
    // Made or opened, whichever comes first when another program makes or
    // removes it at the same time.
    for (int tries = 0; tries < 4 && h == INVALID_HANDLE_VALUE; ++tries) {
        created = true;
        h = open(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
        if (h != INVALID_HANDLE_VALUE) break;
        err = ::GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) break;
        created = false;
        h = open(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
        if (h == INVALID_HANDLE_VALUE) err = ::GetLastError();
        if (h == INVALID_HANDLE_VALUE && err != ERROR_FILE_NOT_FOUND) break;
    }
    if (h == INVALID_HANDLE_VALUE) throw fileErrorFromWin32(err, path, false);
    SystemFile file(valueOf(h), path, kindOfHandle(h));
    if (file.kind() == FileKind::Pipe) file.close();
    return file;
}

SystemFile SystemFile::createNew(const std::string& path, const SystemFile*) {
    const HANDLE h = open(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) {
            return SystemFile(kNone, path, FileKind::Regular);
        }
        throw fileErrorFromWin32(err, path, false);
    }
    return SystemFile(valueOf(h), path, FileKind::Regular);
}

std::optional<FileIdentity> SystemFile::identity() const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle_ == kNone || !::GetFileInformationByHandle(handleOf(handle_), &info)) {
        return std::nullopt;
    }
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

long long SystemFile::size() const {
    LARGE_INTEGER size{};
    if (handle_ == kNone || !::GetFileSizeEx(handleOf(handle_), &size)) return 0;
    return size.QuadPart;
}

bool SystemFile::lock() {
    OVERLAPPED at{};
    at.Offset = kLockLow;
    at.OffsetHigh = kLockHigh;
    return ::LockFileEx(handleOf(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                        1, 0, &at) != 0;
}

std::size_t SystemFile::write(std::string_view data, std::optional<RuntimeError>& error) {
    std::size_t done = 0;
    while (done < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 30));
        DWORD written = 0;
        // A file is appended to, so that one cut or emptied meanwhile shows
        // it in its size instead of gaining a hole.
        OVERLAPPED atEnd{};
        atEnd.Offset = 0xFFFFFFFF;
        atEnd.OffsetHigh = 0xFFFFFFFF;
        const bool ok = ::WriteFile(handleOf(handle_), data.data() + done, chunk, &written,
                                    kind_ == FileKind::Regular ? &atEnd : nullptr) != 0;
        if (!ok || written == 0) {
            error = writeErrorFromWin32(ok ? ERROR_DISK_FULL : ::GetLastError(), path_);
            break;
        }
        done += written;
    }
    return done;
}

std::size_t SystemFile::read(char* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 30));
    if (!::ReadFile(handleOf(handle_), buffer, want, &got, nullptr)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_HANDLE_EOF || err == ERROR_BROKEN_PIPE) return 0;
        throw fileErrorFromWin32(err, path_, true);
    }
    return got;
}

void SystemFile::cut(long long size) {
    LARGE_INTEGER at{};
    at.QuadPart = size;
    if (!::SetFilePointerEx(handleOf(handle_), at, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(handleOf(handle_))) {
        throw fileErrorFromWin32(::GetLastError(), path_, false);
    }
}

void SystemFile::sync() {
    if (::FlushFileBuffers(handleOf(handle_))) return;
    DWORD err = ::GetLastError();
    if (err == ERROR_ACCESS_DENIED) {
        // Opened for reading: flushing takes a handle that may write.
        const HANDLE h = open(path_, GENERIC_WRITE, OPEN_EXISTING);
        if (h != INVALID_HANDLE_VALUE) {
            const bool ok = ::FlushFileBuffers(h) != 0;
            err = ok ? ERROR_SUCCESS : ::GetLastError();
            ::CloseHandle(h);
            if (ok) return;
        } else {
            err = ::GetLastError();
        }
    }
    throw writeErrorFromWin32(err, path_);
}

void SystemFile::close() {
    if (handle_ != kNone) ::CloseHandle(handleOf(std::exchange(handle_, kNone)));
}

int SystemFile::releaseDescriptor() {
    if (handle_ == kNone) return -1;
    const int flags = _O_BINARY | (kind_ == FileKind::Regular ? _O_APPEND : 0);
    const int fd = ::_open_osfhandle(handle_, flags);
    if (fd < 0) {
        close();
        return -1;
    }
    handle_ = kNone;
    return fd;
}

}  // namespace vantor
