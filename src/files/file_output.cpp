#include <vantor/data_file.h>
#include <vantor/errors.h>
#include <vantor/file_output.h>

#include <cerrno>

#include "platform/file_system.h"

namespace vantor {

FileOutput::FileOutput(std::string path, Streams streams) : path_(std::move(path)) {
    if (streams == Streams::Direct) descriptor_ = openStreamOutput(path_);
    direct_ = descriptor_ >= 0;
    if (direct_) {
        temporary_ = path_;
    } else {
        descriptor_ = createBeside(path_, temporary_);
    }
}

FileOutput::~FileOutput() {
    discard();
}

std::FILE* FileOutput::stream() {
    if (stream_ == nullptr && descriptor_ >= 0) {
        stream_ = writeStreamOf(descriptor_);
        // None for a stream open only for reading.
        if (stream_ == nullptr) throw fileError(errno == EINVAL ? EBADF : errno, path_, false);
        descriptor_ = -1;
    }
    return stream_;
}

void FileOutput::closeStream(bool check) {
    if (stream_ != nullptr) {
        const bool failed = std::fclose(stream_) != 0;
        const int err = errno;
        stream_ = nullptr;
        if (failed && check) throw fileError(err, path_, false);
    }
    closeDescriptor(descriptor_);
    descriptor_ = -1;
}

std::string FileOutput::commit() {
    if (!open_) return "";
    open_ = false;
    if (direct_) {
        closeStream(true);
        return "";
    }
    try {
        closeStream(true);
    } catch (...) {
        discardBeside(temporary_);
        throw;
    }
    return putInPlace(temporary_, path_);
}

void FileOutput::discard() {
    if (!open_) return;
    open_ = false;
    closeStream(false);
    if (!direct_) discardBeside(temporary_);
}

}  // namespace vantor
