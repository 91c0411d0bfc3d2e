#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/capture_file.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/textfile/file_errors.h"

namespace vantor {

CaptureFile::CaptureFile(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                 0666);
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        ::close(fd_);
        fd_ = -1;
        errno = ENXIO;
    }
    if (fd_ < 0) {
        const int err = errno;
        if (err == ENXIO) {
            throw RuntimeError(kErrPathFileAccess, "Path/File access error: the capture " + path_ +
                                                       " is a pipe or socket: give a file name");
        }
        throw fileError(err, path_, false);
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

CaptureFile::CaptureFile(const std::string& name, Temporary)
    : path_(name + ".XXXXXX"), temporary_(true) {
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0) throw fileErrorFromErrno(errno, false, true, path_);
    // The mode a capture made by open(2) would have, not mkstemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
}

CaptureFile::~CaptureFile() {
    if (temporary_) {
        discard();
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string CaptureFile::keepAs(const std::string& name) {
    close();
    if (!temporary_ || error_) return "";
    for (int n = 0; n < 10000; ++n) {
        const std::string kept = n == 0 ? name : name + "." + std::to_string(n);
        // link() never replaces what is there.
        if (::link(path_.c_str(), kept.c_str()) == 0) {
            ::unlink(path_.c_str());
            temporary_ = false;
            const int folder = ::open(folderOf(kept).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder >= 0) {
                ::fsync(folder);
                ::close(folder);
            }
            path_ = kept;
            return kept;
        }
        if (errno != EEXIST) break;
    }
    error_ = fileErrorFromErrno(errno, false, true, name);
    return "";
}

void CaptureFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (temporary_) ::unlink(path_.c_str());
    temporary_ = false;
}

void CaptureFile::fail(int err) {
    if (err == ENOSPC || err == EDQUOT || err == EFBIG) {
        error_ = RuntimeError(kErrDiskFull,
                              "Disk full: the capture " + path_ + " (" + std::strerror(err) + ")");
    } else {
        error_ = fileErrorFromErrno(err, false, true, path_);
    }
    ::close(fd_);
    fd_ = -1;
}

void CaptureFile::append(std::string_view bytes) {
    while (fd_ >= 0 && !bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void CaptureFile::close() {
    if (fd_ < 0) return;
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && ::fsync(fd_) != 0) {
        fail(errno);
        return;
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace vantor
