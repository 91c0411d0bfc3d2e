#include "platform/file_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vantor {

namespace {

bool parentExists(const String& path) {
    auto slash = path.find_last_of('/');
    String parent = slash == String::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat st {};
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isDirectory(const String& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

Integer FileTable::FreeFile() const {
    for (Integer n = 1; n <= 255; ++n) {
        if (!isOpen(n)) return n;
    }
    throw RuntimeError(kErrTooManyFiles);
}

void FileTable::checkNew(Integer number, const String& path) const {
    if (number < 1 || number > kMaxNumber) throw RuntimeError(kErrBadFileNumber);
    if (isOpen(number)) throw RuntimeError(kErrFileAlreadyOpen);
    if (path.empty() || path.find('\0') != String::npos) throw RuntimeError(kErrBadFileNumber);
    if (isDirectory(path)) throw RuntimeError(kErrPathFileAccess);
}

OutputFile& FileTable::openOutput(Integer number, const String& path) {
    checkNew(number, path);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        throw fileErrorFromErrno(err, false, parentExists(path));
    }
    auto file = std::make_unique<OutputFile>(fd);
    OutputFile& ref = *file;
    files_[number] = std::move(file);
    return ref;
}

ItemReader& FileTable::openInput(Integer number, const String& path) {
    checkNew(number, path);
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (f == nullptr) {
        int err = errno;
        throw fileErrorFromErrno(err, true, parentExists(path));
    }
    auto reader = std::make_unique<ItemReader>(f);
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

void FileTable::closeAll() {
    while (!files_.empty()) close(files_.begin()->first);
}

}  // namespace vantor
