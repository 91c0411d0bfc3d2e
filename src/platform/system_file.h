// A file the operating system has open: what the writers of durable files
// (the data file, the capture, the exports) and the readers need of it. One
// implementation per platform (posix/system_file.cpp, win32/file_system.cpp).
#pragma once

#include <vantor/errors.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vantor {

// What a name or an open file is. A socket counts as a pipe.
enum class FileKind { Missing, Regular, Folder, Device, Pipe };

// Which file it is, whatever its name: equal for one file under two names.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};

class SystemFile {
  public:
    SystemFile() = default;
    ~SystemFile() { close(); }
    SystemFile(SystemFile&& other) noexcept
        : handle_(std::exchange(other.handle_, kNone)),
          path_(std::move(other.path_)),
          kind_(other.kind_) {}
    SystemFile& operator=(SystemFile&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, kNone);
            path_ = std::move(other.path_);
            kind_ = other.kind_;
        }
        return *this;
    }
    SystemFile(const SystemFile&) = delete;
    SystemFile& operator=(const SystemFile&) = delete;

    // Opens `path` for reading without waiting for a writer (a pipe). A
    // pipe comes back closed, kind() Pipe. Errors name the path: 53 missing
    // file, 76 missing folder, 70 no access, 75 other.
    static SystemFile openInput(const std::string& path);
    // Opens or creates `path` for writing, appending, without waiting for a
    // reader: a pipe comes back closed, kind() Pipe. `created` tells that
    // the open made the file. Errors as openInput (76, not 53, for a name
    // that is missing).
    static SystemFile openOutput(const std::string& path, bool& created);
    // Creates `path` only when no file has that name: closed (and no
    // error) when one has. The mode is `like`'s when given, else what
    // openOutput would give.
    static SystemFile createNew(const std::string& path, const SystemFile* like = nullptr);

    // Takes an open descriptor (a HANDLE on Win32) of `path`.
    static SystemFile adopt(std::intptr_t handle, std::string path, FileKind kind) {
        return SystemFile(handle, std::move(path), kind);
    }

    explicit operator bool() const { return handle_ != kNone; }
    const std::string& path() const { return path_; }
    FileKind kind() const { return kind_; }
    std::optional<FileIdentity> identity() const;
    // The size in bytes (0 when it cannot be told).
    long long size() const;

    // Locks the file against a second writer (this program's or another's)
    // without waiting: false when one holds it.
    bool lock();
    // Writes all of `data`; returns the bytes written, and sets `error`
    // when that is fewer (61 when the disk is full).
    std::size_t write(std::string_view data, std::optional<RuntimeError>& error);
    // Reads up to `size` bytes; 0 at the end. Throws RuntimeError.
    std::size_t read(char* buffer, std::size_t size);
    // Cuts the file back to `size` bytes. Throws RuntimeError.
    void cut(long long size);
    // Puts what was written on the disk. Throws RuntimeError (61 full).
    void sync();
    void close();
    // Gives the file up as a C runtime descriptor, the caller's to close.
    int releaseDescriptor();

  private:
    static constexpr std::intptr_t kNone = -1;
    SystemFile(std::intptr_t handle, std::string path, FileKind kind)
        : handle_(handle), path_(std::move(path)), kind_(kind) {}

    std::intptr_t handle_ = kNone;  // a descriptor, or a HANDLE on Win32
    std::string path_;
    FileKind kind_ = FileKind::Missing;
};

}  // namespace vantor
