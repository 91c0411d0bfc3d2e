#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/data_file.h>
#include <vantor/errors.h>

#include <cerrno>
#include <cstring>

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

  private:
    int fd_;
};

bool copyAll(int from, int to) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(from, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return ::fsync(to) == 0;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(to, buf + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
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

int createBeside(const std::string& path, std::string& temporary) {
    temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw fileError(errno, path, false);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return fd;
}

std::string putInPlace(const std::string& temporary, const std::string& path) {
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
