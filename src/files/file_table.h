// Sequential text files under file numbers. Each control has its own table,
// so several controls (one per meter) can work in one process.
#pragma once

#include <vantor/types.h>

#include <map>
#include <memory>
#include <variant>

#include "files/item_reader.h"
#include "files/output_file.h"

namespace vantor {

// Opens an existing regular file for reading, without a file number. Errors
// as FileTable::openInput.
std::unique_ptr<ItemReader> openItemReader(const String& path);

class FileTable {
  public:
    static constexpr Integer kMaxNumber = 511;

    // The lowest file number not in use (1..255); error 67 when none is free.
    Integer FreeFile() const;

    // Creates or truncates `path` for output under `number`. With `emptyNow`
    // false an existing file keeps its contents until OutputFile::empty(), so
    // that a caller who then cannot go on can leave it as it was (abandon).
    // A regular file is locked against other writers while it is open.
    // Errors, their descriptions naming the path: 52 bad number or empty
    // name, 55 number in use, 76 missing folder, 70 no permission or written
    // by another download, 75 a folder, pipe or socket, or other failures.
    OutputFile& openOutput(Integer number, const String& path, bool emptyNow = true);
    // Opens an existing regular file for reading. Errors as openOutput (75
    // also for a device), and 53 when the file does not exist in an
    // existing folder.
    ItemReader& openInput(Integer number, const String& path);

    bool isOpen(Integer number) const { return files_.count(number) != 0; }
    // The file under `number` open for output; error 52 otherwise.
    OutputFile& output(Integer number);
    // The same, or nullptr when `number` is not open for output.
    OutputFile* findOutput(Integer number);
    // Closes `number` (nothing happens if it is not open). Returns the lines
    // of an output file that could not be written at the final flush.
    std::size_t close(Integer number);
    // Closes an output file and undoes its opening (OutputFile::abandon).
    void abandon(Integer number);
    void closeAll();

  private:
    void checkNew(Integer number, const String& path) const;

    std::map<Integer, std::variant<std::unique_ptr<OutputFile>, std::unique_ptr<ItemReader>>>
        files_;
};

}  // namespace vantor
