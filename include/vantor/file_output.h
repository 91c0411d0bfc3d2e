// A file written whole before it takes its name: for a host's own outputs
// (exports, pictures), with the rules the control's files follow. An
// earlier file of the name is kept as FILE.N, never overwritten.
#pragma once

#include <cstdio>
#include <string>

namespace vantor {

class FileOutput {
  public:
    // What an output `path` that is no regular file (POSIX: a device, a
    // FIFO, a socket, a standard stream under any name) gets: the bytes as
    // they are written (Direct), or all of them at commit() (Whole).
    enum class Streams { Whole, Direct };

    // Opens the output: a new file under a temporary name beside `path`
    // (createBeside, <vantor/data_file.h>), or the stream itself. Throws
    // RuntimeError naming the path: 75 for a folder, others as FileTable's
    // files (70 no access, 76 no such folder, 61 disk full).
    explicit FileOutput(std::string path, Streams streams = Streams::Whole);
    // Discards what was not committed.
    ~FileOutput();
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    // What to write to (binary), open until commit() or discard().
    std::FILE* stream();
    // The name written under, for a writer that opens files by name (and
    // leaves stream() alone): the temporary file, or the stream's name.
    const std::string& temporary() const { return temporary_; }
    const std::string& path() const { return path_; }

    // Closes the stream, puts the file on the disk and gives it its name.
    // Returns the name the earlier file was kept under ("" when none).
    // Throws RuntimeError naming the files; the temporary file is gone then.
    std::string commit();
    // Closes the stream and removes the temporary file.
    void discard();

  private:
    void closeStream(bool check);

    std::string path_;
    std::string temporary_;
    int descriptor_ = -1;
    std::FILE* stream_ = nullptr;
    bool direct_ = false;
    bool open_ = true;
};

}  // namespace vantor
