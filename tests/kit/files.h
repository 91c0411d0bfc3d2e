// Scratch folders and whole-file reads and writes.
#pragma once

#include <filesystem>
#include <string>

#include "platform/file_system.h"

namespace vantor::testing {

// A fresh folder `<base>/vantor-<tag>-XXXXXX`, base (made if missing) defaulting to the
// system's temporary folder. Throws std::runtime_error.
std::string makeScratchDir(const std::string& tag, const std::string& base = {});
// Removes `path` and everything in it, even when a test left it read-only.
void removeTree(const std::string& path);
// /dev/shm when writable, so that the disk decides no figure; else the temporary folder.
std::string memoryTempBase();

// A scratch folder removed with everything in it afterwards.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& tag = "test", const std::string& base = {})
        : path_(makeScratchDir(tag, base)) {}
    ~ScratchDir() { removeTree(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // As the control names files in a folder.
    std::string file(const std::string& name) const { return inFolder(path_, name); }

  private:
    std::string path_;
};

// "" when the file cannot be read.
std::string readFile(const std::string& path);
// Throws std::runtime_error when the file cannot be written.
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace vantor::testing
