#include "platform/textfile/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/textfile/file_errors.h"

namespace vantor {

namespace {

RuntimeError writeError(int err, const std::string& path) {
    if (err == ENOSPC || err == EDQUOT || err == EFBIG) {
        return RuntimeError(kErrDiskFull, standardDescription(kErrDiskFull) + ": " + path + " (" +
                                              std::strerror(err) + ")");
    }
    return fileErrorFromErrno(err, false, true, path);
}

}  // namespace

OutputFile::OutputFile(int fd, std::string path, bool created)
    : fd_(fd), path_(std::move(path)), created_(created) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
        dev_ = st.st_dev;
        ino_ = st.st_ino;
        regular_ = S_ISREG(st.st_mode);
    }
}

OutputFile::~OutputFile() {
    close();
}

void OutputFile::empty() {
    if (fd_ < 0 || !regular_) return;
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
        throw fileErrorFromErrno(errno, false, true, path_);
    }
    committed_ = 0;
    committedLines_ = 0;
}

std::size_t OutputFile::fail(const RuntimeError& error, std::size_t lost) {
    lastError_ = error;
    pending_.clear();
    pendingLines_ = 0;
    return lost;
}

std::size_t OutputFile::flush() {
    if (fd_ < 0) {
        std::size_t lost = pendingLines_;
        pending_.clear();
        pendingLines_ = 0;
        return lost;
    }
    std::size_t done = 0;
    while (done < pending_.size()) {
        ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : ENOSPC;
            // Keep only whole lines: count those that made it, cut the rest off.
            std::size_t whole = 0, lines = 0;
            for (std::size_t i = 0; i < done; ++i) {
                if (pending_[i] == '\n') {
                    whole = i + 1;
                    ++lines;
                }
            }
            committed_ += static_cast<long long>(whole);
            committedLines_ += lines;
            if (::ftruncate(fd_, committed_) == 0) ::lseek(fd_, committed_, SEEK_SET);
            return fail(writeError(err, path_), pendingLines_ - lines);
        }
        done += static_cast<std::size_t>(n);
    }
    committed_ += static_cast<long long>(done);
    committedLines_ += pendingLines_;
    pending_.clear();
    pendingLines_ = 0;
    return 0;
}

std::size_t OutputFile::settle() {
    if (fd_ < 0) return 0;
    std::size_t lost = flush();
    if (!regular_) return lost;
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_) {
        // Whatever was written went to a file nobody can find any more.
        std::size_t gone = committedLines_;
        committedLines_ = 0;
        return lost + fail(RuntimeError(kErrPathFileAccess,
                                        standardDescription(kErrPathFileAccess) + ": " + path_ +
                                            " was removed or replaced while records were "
                                            "written to it; they are lost"),
                           gone);
    }
    if (::fstat(fd_, &st) == 0 && st.st_size != committed_) {
        // Emptied, cut or written by another program meanwhile: the lines in
        // it are not the ones this download wrote.
        std::size_t gone = committedLines_;
        committedLines_ = 0;
        return lost + fail(RuntimeError(kErrPathFileAccess,
                                        standardDescription(kErrPathFileAccess) + ": " + path_ +
                                            " was changed by another program while records "
                                            "were written to it (it holds " +
                                            std::to_string(st.st_size) +
                                            " bytes where this download wrote " +
                                            std::to_string(committed_) + "); they are lost"),
                           gone);
    }
    if (::fsync(fd_) != 0) {
        std::size_t gone = committedLines_;
        committedLines_ = 0;
        return lost + fail(writeError(errno, path_), gone);
    }
    if (created_) {
        // A new file's name is only safe once its folder is on the disk too.
        int dir = ::open(folderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        created_ = false;
    }
    return lost;
}

std::size_t OutputFile::close() {
    if (fd_ < 0) return 0;
    std::size_t lost = flush();
    ::close(fd_);
    fd_ = -1;
    return lost;
}

void OutputFile::abandon() {
    if (fd_ < 0) return;
    pending_.clear();
    pendingLines_ = 0;
    struct stat st {};
    bool untouched = ::fstat(fd_, &st) == 0 && st.st_size == 0;
    if (created_ && untouched && ::stat(path_.c_str(), &st) == 0 && st.st_dev == dev_ &&
        st.st_ino == ino_) {
        ::unlink(path_.c_str());
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace vantor
