// The --raw capture: every byte read from the port, appended unchanged.
#pragma once

#include <vantor/errors.h>

#include <optional>
#include <string>
#include <string_view>

namespace vantor::cli {

class CaptureFile {
  public:
    // Opens (creates) `path` for appending. Throws RuntimeError naming the
    // path when it cannot be opened or is a pipe or socket.
    explicit CaptureFile(std::string path);
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Each read reaches the file at once, so that a capture survives a crash.
    // After the first failure nothing more is written.
    void append(std::string_view bytes);
    // Puts the capture on the disk and closes it.
    void close();
    // The first failure, if any.
    const std::optional<RuntimeError>& error() const { return error_; }
    const std::string& path() const { return path_; }

  private:
    void fail(int err);

    std::string path_;
    int fd_ = -1;
    std::optional<RuntimeError> error_;
};

}  // namespace vantor::cli
