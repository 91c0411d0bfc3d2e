// A text file open for output: whole lines, handed to the operating system in
// batches so that a crash never leaves more than the last line incomplete.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace vantor {

class OutputFile {
  public:
    // Takes ownership of an open file descriptor.
    explicit OutputFile(int fd) : fd_(fd) {}
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Appends `line` and CR LF to the pending lines.
    void writeLine(std::string_view line);
    // Appends a line that `build` writes in place (without its line end):
    // the same as writeLine, without a copy.
    template <class Build>
    void writeLineWith(Build&& build) {
        build(pending_);
        pending_.append("\r\n");
        ++pendingLines_;
    }
    std::size_t pendingLines() const { return pendingLines_; }

    // Hands the pending lines to the operating system. Returns the number of
    // lines that could not be written (0 on success); then the file has been
    // cut back to the last whole line and lastError() tells why.
    std::size_t flush();
    const std::optional<RuntimeError>& lastError() const { return lastError_; }

    // Flushes and closes; returns the lines lost as flush() does.
    std::size_t close();

  private:
    int fd_;
    std::string pending_;
    std::size_t pendingLines_ = 0;
    long long committed_ = 0;  // bytes of whole lines known to be in the file
    std::optional<RuntimeError> lastError_;
};

// Maps an errno value of a failed open, read or write to a run-time error.
// `forInput` tells a missing file (53) from a missing folder (76).
RuntimeError fileErrorFromErrno(int err, bool forInput, bool parentExists);

}  // namespace vantor
