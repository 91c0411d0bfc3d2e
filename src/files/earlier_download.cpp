#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vantor/data_file.h>
#include <vantor/errors.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/textfile/file_errors.h"

namespace vantor {

namespace {

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

bool writeAll(int to, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t w = ::write(to, data + done, size - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

bool copyAll(int from, int to) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(from, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return ::fsync(to) == 0;
        if (!writeAll(to, buf, static_cast<std::size_t>(n))) return false;
    }
}

}  // namespace

std::string keepEarlierDownload(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return "";
    Fd from(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    auto failed = [&](const std::string& copy) {
        return RuntimeError(kErrPathFileAccess,
                            "Path/File access error: cannot keep the earlier download " + path +
                                " as " + copy + " (" + std::strerror(errno) +
                                "); --overwrite replaces it instead");
    };
    if (from.get() < 0) throw failed(path + ".1");
    for (int n = 1; n < 10000; ++n) {
        const std::string copy = path + "." + std::to_string(n);
        Fd to(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0666));
        if (to.get() < 0 && errno == EEXIST) continue;
        if (to.get() < 0 || !copyAll(from.get(), to.get())) {
            RuntimeError error = failed(copy);
            if (to.get() >= 0) ::unlink(copy.c_str());
            throw error;
        }
        // The copy's name must be on the disk before the download cuts the original.
        Fd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() < 0 || ::fsync(folder.get()) != 0) {
            RuntimeError error = failed(copy);
            ::unlink(copy.c_str());
            throw error;
        }
        return copy;
    }
    errno = EEXIST;
    throw failed(path + ".N");
}

namespace {

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

// What createBeside gave for an output that is a stream: the file the
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

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int openStreamOutput(const std::string& path) {
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

int createBeside(const std::string& path, std::string& temporary) {
    const int stream = openStreamOutput(path);
    if (stream >= 0) {
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
    temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw fileError(errno, path, false);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return fd;
}

void discardBeside(const std::string& temporary) {
    Spool spool{};
    if (takeSpool(temporary, spool)) {
        ::close(spool.file);
        ::close(spool.stream);
        return;
    }
    ::unlink(temporary.c_str());
}

std::string putInPlace(const std::string& temporary, const std::string& path) {
    if (temporary == path) return "";
    Spool spool{};
    if (takeSpool(temporary, spool)) {
        Fd file(spool.file), stream(spool.stream);
        char buf[65536];
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(file.get(), buf, sizeof buf, at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw fileError(errno, temporary, true);
            if (n == 0) break;
            if (!writeAll(stream.get(), buf, static_cast<std::size_t>(n))) {
                throw fileError(errno, path, false);
            }
            at += n;
        }
        if (::close(stream.release()) != 0 && errno != EINTR) throw fileError(errno, path, false);
        return "";
    }
    try {
        Fd file(::open(temporary.c_str(), O_RDONLY | O_CLOEXEC));
        if (file.get() < 0 || ::fsync(file.get()) != 0) throw fileError(errno, temporary, false);
        const std::string kept = keepEarlierDownload(path);
        if (::rename(temporary.c_str(), path.c_str()) != 0) throw fileError(errno, path, false);
        Fd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() >= 0) ::fsync(folder.get());
        return kept;
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

}  // namespace vantor
