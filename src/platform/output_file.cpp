#include "platform/output_file.h"

#include <unistd.h>

#include <cerrno>

namespace vantor {

OutputFile::~OutputFile() {
    close();
}

void OutputFile::writeLine(std::string_view line) {
    pending_.append(line);
    pending_.append("\r\n");
    ++pendingLines_;
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
            if (::ftruncate(fd_, committed_) == 0) ::lseek(fd_, committed_, SEEK_SET);
            std::size_t lost = pendingLines_ - lines;
            lastError_ = err == ENOSPC || err == EDQUOT || err == EFBIG
                             ? RuntimeError(kErrDiskFull)
                             : fileErrorFromErrno(err, false, true);
            pending_.clear();
            pendingLines_ = 0;
            return lost;
        }
        done += static_cast<std::size_t>(n);
    }
    committed_ += static_cast<long long>(done);
    pending_.clear();
    pendingLines_ = 0;
    return 0;
}

std::size_t OutputFile::close() {
    if (fd_ < 0) return 0;
    std::size_t lost = flush();
    ::close(fd_);
    fd_ = -1;
    return lost;
}

RuntimeError fileErrorFromErrno(int err, bool forInput, bool parentExists) {
    switch (err) {
        case ENOENT:
            return RuntimeError(forInput && parentExists ? kErrFileNotFound : kErrPathNotFound);
        case ENOTDIR:
            return RuntimeError(kErrPathNotFound);
        case EACCES:
        case EPERM:
            return RuntimeError(kErrPermissionDenied);
        case ENOSPC:
        case EDQUOT:
            return RuntimeError(kErrDiskFull);
        case EMFILE:
        case ENFILE:
            return RuntimeError(kErrTooManyFiles);
        default:
            return RuntimeError(kErrPathFileAccess);
    }
}

}  // namespace vantor
