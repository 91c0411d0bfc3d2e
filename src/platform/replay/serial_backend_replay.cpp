#include "platform/replay/serial_backend_replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/replay_backend.h>

#include <algorithm>
#include <cerrno>

#include "platform/file_system.h"

namespace vantor {

ReplaySerialBackend::ReplaySerialBackend(MessageLoop& loop, std::string path)
    : loop_(loop), path_(std::move(path)) {}

ReplaySerialBackend::~ReplaySerialBackend() {
    ++*generation_;
    close();
}

void ReplaySerialBackend::open(const std::string&, const LineSettings&) {
    if (file_ != nullptr) return;
    if (path_ == "-") {
        const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
        file_ = fd < 0 ? nullptr : ::fdopen(fd, "rb");
        if (file_ == nullptr) throw fileErrorFromErrno(errno, true, true, "standard input");
    } else {
        file_ = std::fopen(path_.c_str(), "rbe");
        if (file_ == nullptr) throw fileErrorFromErrno(errno, true, true, path_);
        // A device or FIFO may never end: only a file is a capture.
        struct stat st {};
        if (::fstat(::fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) {
            std::fclose(file_);
            file_ = nullptr;
            throw RuntimeError(kErrPathFileAccess, standardDescription(kErrPathFileAccess) +
                                                       ": the capture " + path_ +
                                                       " is not a regular file");
        }
    }
    buffer_.clear();
    readPos_ = 0;
    // Like a line, the bytes arrive after the opening call has returned.
    scheduleNextChunk();
}

void ReplaySerialBackend::close() {
    ++*generation_;
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    buffer_.clear();
    readPos_ = 0;
    chunkPending_ = false;
}

void ReplaySerialBackend::scheduleNextChunk() {
    if (chunkPending_) return;
    chunkPending_ = true;
    std::weak_ptr<int> generation = generation_;
    int current = *generation_;
    loop_.post([this, generation, current] {
        auto alive = generation.lock();
        if (!alive || *alive != current) return;  // closed or gone meanwhile
        chunkPending_ = false;
        nextChunk();
    });
}

void ReplaySerialBackend::nextChunk() {
    if (file_ == nullptr || listener_ == nullptr) return;
    buffer_.resize(kChunk);
    std::size_t got = std::fread(buffer_.data(), 1, kChunk, file_);
    buffer_.resize(got);
    readPos_ = 0;
    if (got > 0) {
        listener_->bytesArrived();
        return;
    }
    listener_->deviceLost(
        RuntimeError(kErrInputPastEnd, "Input past end of file: the capture " +
                                           (path_ == "-" ? "on standard input" : path_) +
                                           " ends before the meter's end marker"));
}

std::string ReplaySerialBackend::read(std::size_t max) {
    std::size_t n = std::min(max, bytesAvailable());
    std::string out = buffer_.substr(readPos_, n);
    readPos_ += n;
    if (bytesAvailable() == 0 && file_ != nullptr) scheduleNextChunk();
    return out;
}

std::unique_ptr<SerialBackend> replayBackend(MessageLoop& loop, std::string path) {
    return std::make_unique<ReplaySerialBackend>(loop, std::move(path));
}

}  // namespace vantor
