#include "platform/textfile/file_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/textfile/file_errors.h"

namespace vantor {

namespace {

bool isDirectory(const String& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool parentExists(const String& path) {
    return isDirectory(folderOf(path));
}

RuntimeError described(ErrorNumber number, const std::string& what) {
    return RuntimeError(number, standardDescription(number) + ": " + what);
}

RuntimeError notAFile(const String& path) {
    return described(kErrPathFileAccess,
                     path + " is not a regular file (a pipe or socket): give a file name");
}

// The mode of a file opened with O_NONBLOCK, which is cleared again; a pipe
// or socket is closed and refused.
mode_t fileMode(int fd, const String& path) {
    struct stat st {};
    ::fstat(fd, &st);
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        ::close(fd);
        throw notAFile(path);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return st.st_mode;
}

void checkPath(const String& path) {
    if (path.empty()) throw described(kErrBadFileNumber, "no file name given");
    if (path.find('\0') != String::npos) throw described(kErrBadFileNumber, "a NUL in the name");
    if (isDirectory(path)) throw described(kErrPathFileAccess, path + " is a folder");
}

}  // namespace

Integer FileTable::FreeFile() const {
    for (Integer n = 1; n <= 255; ++n) {
        if (!isOpen(n)) return n;
    }
    throw RuntimeError(kErrTooManyFiles);
}

std::unique_ptr<ItemReader> openItemReader(const String& path) {
    checkPath(path);
    // Non-blocking, so that a pipe without a writer cannot hang the reader.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        int err = errno;
        throw fileErrorFromErrno(err, true, parentExists(path), path);
    }
    // A device such as /dev/zero never ends: only a file is read.
    if (!S_ISREG(fileMode(fd, path))) {
        ::close(fd);
        throw described(kErrPathFileAccess,
                        path + " is not a regular file (a device): give a file name");
    }
    return std::make_unique<ItemReader>(::fdopen(fd, "rb"), path);
}

void FileTable::checkNew(Integer number, const String& path) const {
    if (number < 1 || number > kMaxNumber) throw RuntimeError(kErrBadFileNumber);
    if (isOpen(number)) {
        throw described(kErrFileAlreadyOpen,
                        "file number " + std::to_string(number) + " is still in use");
    }
    checkPath(path);
}

OutputFile& FileTable::openOutput(Integer number, const String& path, bool emptyNow) {
    checkNew(number, path);
    // Non-blocking, so that a pipe without a reader fails instead of hanging.
    constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    bool created = true;
    int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(path.c_str(), kFlags);
        if (fd < 0 && errno == ENOENT) {
            // A dangling symbolic link: make what it points to.
            created = true;
            fd = ::open(path.c_str(), kFlags | O_CREAT, 0666);
        }
    }
    if (fd < 0) {
        int err = errno;
        if (err == ENXIO) throw notAFile(path);
        throw fileErrorFromErrno(err, false, parentExists(path), path);
    }
    bool regular = S_ISREG(fileMode(fd, path));
    if (regular && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw described(kErrPermissionDenied,
                        path +
                            " is being written by another download: wait until it has "
                            "ended, or choose another data file");
    }
    // Appending, so that a file emptied or cut by another program meanwhile
    // shows it in its size at the end instead of gaining a hole.
    if (regular) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND);
    auto file = std::make_unique<OutputFile>(fd, path, created);
    if (emptyNow) file->empty();
    OutputFile& ref = *file;
    files_[number] = std::move(file);
    return ref;
}

ItemReader& FileTable::openInput(Integer number, const String& path) {
    checkNew(number, path);
    auto reader = openItemReader(path);
    ItemReader& ref = *reader;
    files_[number] = std::move(reader);
    return ref;
}

OutputFile* FileTable::findOutput(Integer number) {
    auto it = files_.find(number);
    if (it == files_.end()) return nullptr;
    auto* out = std::get_if<std::unique_ptr<OutputFile>>(&it->second);
    return out != nullptr ? out->get() : nullptr;
}

OutputFile& FileTable::output(Integer number) {
    OutputFile* out = findOutput(number);
    if (out == nullptr) throw RuntimeError(kErrBadFileNumber);
    return *out;
}

std::size_t FileTable::close(Integer number) {
    auto it = files_.find(number);
    if (it == files_.end()) return 0;
    std::size_t lost = 0;
    if (auto* out = std::get_if<std::unique_ptr<OutputFile>>(&it->second)) lost = (*out)->close();
    files_.erase(it);
    return lost;
}

void FileTable::abandon(Integer number) {
    if (OutputFile* out = findOutput(number)) out->abandon();
    close(number);
}

void FileTable::closeAll() {
    while (!files_.empty()) close(files_.begin()->first);
}

}  // namespace vantor
