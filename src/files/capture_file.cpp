#include <vantor/capture_file.h>
#include <vantor/data_file.h>

#include "platform/file_system.h"

namespace vantor {

CaptureFile::CaptureFile(std::string path) : path_(std::move(path)) {
    bool created = false;
    file_ = std::make_unique<SystemFile>(SystemFile::openOutput(path_, created));
    if (file_->kind() == FileKind::Pipe) {
        throw RuntimeError(kErrPathFileAccess, "Path/File access error: the capture " + path_ +
                                                   " is a pipe or socket: give a file name");
    }
}

CaptureFile::CaptureFile(const std::string& name, Temporary) : temporary_(true) {
    file_ = std::make_unique<SystemFile>(createTemporaryBeside(name, path_));
}

CaptureFile::~CaptureFile() {
    if (temporary_) discard();
}

std::string CaptureFile::keepAs(const std::string& name) {
    close();
    if (!temporary_ || error_) return "";
    try {
        path_ = firstFreeName(name, "", ".",
                              [&](const std::string& kept) { return moveToFree(path_, kept); });
        temporary_ = false;
        return path_;
    } catch (const RuntimeError& e) {
        error_ = e;
        return "";
    }
}

void CaptureFile::discard() {
    if (file_) file_->close();
    if (temporary_) removeFile(path_);
    temporary_ = false;
}

void CaptureFile::fail(const RuntimeError& error) {
    error_ = error;
    file_->close();
}

void CaptureFile::append(std::string_view bytes) {
    if (!file_ || !*file_) return;
    std::optional<RuntimeError> error;
    file_->write(bytes, error);
    if (error) fail(*error);
}

void CaptureFile::close() {
    if (!file_ || !*file_) return;
    if (file_->kind() == FileKind::Regular) {
        try {
            file_->sync();
        } catch (const RuntimeError& e) {
            fail(e);
            return;
        }
    }
    file_->close();
}

}  // namespace vantor
