#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/posix/file_errors.h"

namespace vantor {

FileKind kindOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return FileKind::Missing;
    if (S_ISREG(st.st_mode)) return FileKind::Regular;
    if (S_ISDIR(st.st_mode)) return FileKind::Folder;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FileKind::Pipe;
    return FileKind::Device;
}

std::optional<FileIdentity> identityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

bool syncFolderOf(const std::string& path) {
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    const bool synced = ::fsync(folder) == 0;
    ::close(folder);
    return synced;
}

SystemFile createTemporaryBeside(const std::string& path, std::string& temporary) {
    temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw fileError(errno, path, false);
    // The mode a file made by open(2) would have, not mkstemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND);
    return SystemFile::adopt(fd, temporary, FileKind::Regular);
}

void replaceWith(const std::string& temporary, const std::string& path) {
    if (::rename(temporary.c_str(), path.c_str()) != 0) throw fileError(errno, path, false);
    syncFolderOf(path);
}

bool moveToFree(const std::string& from, const std::string& to) {
    // link() never replaces what is there.
    if (::link(from.c_str(), to.c_str()) != 0) {
        if (errno == EEXIST) return false;
        throw fileErrorFromErrno(errno, false, true, to);
    }
    ::unlink(from.c_str());
    syncFolderOf(to);
    return true;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

namespace {

bool writeAll(int to, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t w = ::write(to, data + done, size - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// What createSpool gave for an output that is a stream: the file the
// writer fills (held open here, so that its /proc name stays valid however
// the writer closes its own descriptors) and the stream it goes to.
struct Spool {
    int file;
    int stream;
};

std::mutex spoolsMutex;
std::map<std::string, Spool> spools;

bool takeSpool(const std::string& temporary, Spool& spool) {
    const std::lock_guard<std::mutex> lock(spoolsMutex);
    const auto it = spools.find(temporary);
    if (it == spools.end()) return false;
    spool = it->second;
    spools.erase(it);
    return true;
}

// An unnamed file: on the disk of TMPDIR when it can take one, else in memory.
int unnamedFile() {
    const char* tmp = std::getenv("TMPDIR");
    const int fd = ::open(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp",
                          O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    return fd >= 0 ? fd : ::memfd_create("vantor-output", MFD_CLOEXEC);
}

void deliver(const Spool& spool, const std::string& temporary, const std::string& path) {
    char buf[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(spool.file, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw fileError(errno, temporary, true);
        if (n == 0) break;
        if (!writeAll(spool.stream, buf, static_cast<std::size_t>(n))) {
            throw fileError(errno, path, false);
        }
        at += n;
    }
}

}  // namespace

int openStream(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;  // a new file (or a link to none)
    if (S_ISDIR(st.st_mode)) throw fileError(EISDIR, path, false);
    // A standard stream under another name (/dev/stdout): a pipe, a socket
    // or a file the shell opened, whose name reopened would be another
    // stream or none, and whose link must not be replaced.
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO, STDIN_FILENO}) {
        struct stat s {};
        if (::fstat(fd, &s) == 0 && s.st_dev == st.st_dev && s.st_ino == st.st_ino) {
            const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
            if (copy < 0) throw fileError(errno, path, false);
            return copy;
        }
    }
    if (S_ISREG(st.st_mode)) return -1;
    const int fd = S_ISSOCK(st.st_mode) ? connectTo(path)
                                        : ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw fileError(errno, path, false);
    return fd;
}

int createSpool(const std::string& path, std::string& temporary) {
    const int stream = openStream(path);
    if (stream < 0) return -1;
    const int file = unnamedFile();
    const int writer = file < 0 ? -1 : ::fcntl(file, F_DUPFD_CLOEXEC, 3);
    if (writer < 0) {
        const int err = errno;
        if (file >= 0) ::close(file);
        ::close(stream);
        throw fileError(err, path, false);
    }
    temporary = "/proc/self/fd/" + std::to_string(file);
    const std::lock_guard<std::mutex> lock(spoolsMutex);
    spools[temporary] = {file, stream};
    return writer;
}

bool deliverSpool(const std::string& temporary, const std::string& path) {
    Spool spool{};
    if (!takeSpool(temporary, spool)) return false;
    try {
        deliver(spool, temporary, path);
    } catch (...) {
        ::close(spool.file);
        ::close(spool.stream);
        throw;
    }
    ::close(spool.file);
    if (::close(spool.stream) != 0 && errno != EINTR) throw fileError(errno, path, false);
    return true;
}

bool dropSpool(const std::string& temporary) {
    Spool spool{};
    if (!takeSpool(temporary, spool)) return false;
    ::close(spool.file);
    ::close(spool.stream);
    return true;
}

std::FILE* writeStreamOf(int descriptor) {
    return ::fdopen(descriptor, "wb");
}

void closeDescriptor(int descriptor) {
    if (descriptor >= 0) ::close(descriptor);
}

}  // namespace vantor
