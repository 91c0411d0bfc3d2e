// A text file open for output: whole lines, handed to the operating system in
// batches so that a crash never leaves more than the last line incomplete.
#pragma once

#include <vantor/errors.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/system_file.h"

namespace vantor {

class OutputFile {
  public:
    // Takes the file open for output; `created` tells that the open made
    // the file, so that abandon() can remove it again.
    OutputFile(SystemFile file, bool created);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& path() const { return file_.path(); }

    // Empties the file; an error when it cannot be cut.
    void empty();

    // Appends `line` and CR LF to the pending lines.
    void writeLine(std::string_view line) {
        pending_.append(line);
        pending_.append("\r\n");
        ++pendingLines_;
    }
    std::size_t pendingLines() const { return pendingLines_; }

    // Hands the pending lines to the operating system. Returns the number of
    // lines that could not be written (0 on success); then the file has been
    // cut back to the last whole line and lastError() tells why.
    std::size_t flush();
    const std::optional<RuntimeError>& lastError() const { return lastError_; }

    // Flushes, then makes sure the lines are on the disk under path(): a
    // file removed, replaced, emptied, cut or added to by another program
    // meanwhile, or one the disk failed to keep, counts all its lines as
    // lost. Returns the lines lost.
    std::size_t settle();

    // Flushes and closes; returns the lines lost as flush() does.
    std::size_t close();
    // Closes without a word written, leaving no trace: a file the open
    // created is removed again while it is still empty.
    void abandon();

  private:
    std::size_t fail(const RuntimeError& error, std::size_t lost);
    std::size_t loseAll(const RuntimeError& error);

    SystemFile file_;
    bool created_;
    std::optional<FileIdentity> identity_;
    bool regular_;
    std::string pending_;
    std::size_t pendingLines_ = 0;
    long long committed_ = 0;         // bytes of whole lines known to be in the file
    std::size_t committedLines_ = 0;  // and their lines
    std::optional<RuntimeError> lastError_;
};

}  // namespace vantor
