// A capture: every byte read from the port, unchanged (the control's
// onBytesRead tap), so that a download can be decoded again later by
// replaying it (replayBackend, <vantor/replay_backend.h>).
#pragma once

#include <vantor/errors.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

class SystemFile;

class CaptureFile {
  public:
    // Opens (creates) `path` for appending. Throws RuntimeError naming the
    // path when it cannot be opened or is a pipe or socket.
    explicit CaptureFile(std::string path);
    // A new capture under a temporary name beside `name` (name.XXXXXX),
    // which keepAs() gives a name of its own or discard() removes.
    struct Temporary {};
    CaptureFile(const std::string& name, Temporary);
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Each read reaches the file at once, so that a capture survives a crash.
    // After the first failure nothing more is written.
    void append(std::string_view bytes);
    // Puts the capture on the disk and closes it.
    void close();
    // Closes a temporary capture and gives it the first free name of
    // `name`, name.1, name.2, ...: never one already there. Returns that
    // name, or "" when it failed (error() says why).
    std::string keepAs(const std::string& name);
    // Closes a temporary capture and removes it.
    void discard();
    // The first failure, if any.
    const std::optional<RuntimeError>& error() const { return error_; }
    const std::string& path() const { return path_; }

  private:
    void fail(const RuntimeError& error);

    std::string path_;
    std::unique_ptr<SystemFile> file_;
    bool temporary_ = false;
    std::optional<RuntimeError> error_;
};

}  // namespace vantor
