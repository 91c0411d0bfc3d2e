#include "platform/system_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_system.h"
#include "platform/posix/file_errors.h"

namespace vantor {

namespace {

FileKind kindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Folder;
    if (S_ISFIFO(mode) || S_ISSOCK(mode)) return FileKind::Pipe;
    return FileKind::Device;
}

// The kind of a file opened with O_NONBLOCK, which is cleared again; a pipe
// is closed, so that nothing waits on it.
FileKind settleOpened(int& fd) {
    struct stat st {};
    ::fstat(fd, &st);
    const FileKind kind = kindOfMode(st.st_mode);
    if (kind == FileKind::Pipe) {
        ::close(fd);
        fd = -1;
        return kind;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return kind;
}

int fdOf(std::intptr_t handle) {
    return static_cast<int>(handle);
}

}  // namespace

SystemFile SystemFile::openInput(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw fileError(errno, path, true);
    const FileKind kind = settleOpened(fd);
    return SystemFile(fd, path, kind);
}

SystemFile SystemFile::openOutput(const std::string& path, bool& created) {
    constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    created = true;
    int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(path.c_str(), kFlags);
        if (fd < 0 && errno == ENOENT) {
            // A dangling symbolic link: make what it points to.
            created = true;
            fd = ::open(path.c_str(), kFlags | O_CREAT, 0666);
        }
    }
    if (fd < 0) {
        if (errno == ENXIO) return SystemFile(kNone, path, FileKind::Pipe);  // a FIFO, no reader
        throw fileError(errno, path, false);
    }
    const FileKind kind = settleOpened(fd);
    // Appending, so that a file emptied or cut by another program meanwhile
    // shows it in its size at the end instead of gaining a hole.
    if (kind == FileKind::Regular) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND);
    return SystemFile(fd, path, kind);
}

SystemFile SystemFile::createNew(const std::string& path, const SystemFile* like) {
    mode_t mode = 0666;
    struct stat st {};
    if (like != nullptr && *like && ::fstat(fdOf(like->handle_), &st) == 0)
        mode = st.st_mode & 0666;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_APPEND, mode);
    if (fd < 0 && errno == EEXIST) return SystemFile(kNone, path, FileKind::Regular);
    if (fd < 0) throw fileError(errno, path, false);
    return SystemFile(fd, path, FileKind::Regular);
}

std::optional<FileIdentity> SystemFile::identity() const {
    struct stat st {};
    if (handle_ == kNone || ::fstat(fdOf(handle_), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

long long SystemFile::size() const {
    struct stat st {};
    if (handle_ == kNone || ::fstat(fdOf(handle_), &st) != 0) return 0;
    return static_cast<long long>(st.st_size);
}

bool SystemFile::lock() {
    return ::flock(fdOf(handle_), LOCK_EX | LOCK_NB) == 0;
}

std::size_t SystemFile::write(std::string_view data, std::optional<RuntimeError>& error) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fdOf(handle_), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = writeErrorFromErrno(n < 0 ? errno : ENOSPC, path_);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t SystemFile::read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fdOf(handle_), buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw fileError(errno, path_, true);
    }
}

void SystemFile::cut(long long size) {
    if (::ftruncate(fdOf(handle_), size) != 0 || ::lseek(fdOf(handle_), size, SEEK_SET) != size) {
        throw fileErrorFromErrno(errno, false, true, path_);
    }
}

void SystemFile::sync() {
    if (::fsync(fdOf(handle_)) != 0) throw writeErrorFromErrno(errno, path_);
}

void SystemFile::close() {
    if (handle_ != kNone) ::close(fdOf(std::exchange(handle_, kNone)));
}

int SystemFile::releaseDescriptor() {
    return fdOf(std::exchange(handle_, kNone));
}

}  // namespace vantor
