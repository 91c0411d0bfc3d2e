#include "files/file_table.h"

#include "platform/file_system.h"

namespace vantor {

namespace {

RuntimeError described(ErrorNumber number, const std::string& what) {
    return RuntimeError(number, standardDescription(number) + ": " + what);
}

RuntimeError notAFile(const String& path) {
    return described(kErrPathFileAccess,
                     path + " is not a regular file (a pipe or socket): give a file name");
}

void checkPath(const String& path) {
    if (path.empty()) throw described(kErrBadFileNumber, "no file name given");
    if (path.find('\0') != String::npos) throw described(kErrBadFileNumber, "a NUL in the name");
    if (kindOf(path) == FileKind::Folder)
        throw described(kErrPathFileAccess, path + " is a folder");
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
    // Without waiting, so that a pipe without a writer cannot hang the reader.
    SystemFile file = SystemFile::openInput(path);
    if (file.kind() == FileKind::Pipe) throw notAFile(path);
    // A device such as /dev/zero never ends: only a file is read.
    if (file.kind() != FileKind::Regular) {
        throw described(kErrPathFileAccess,
                        path + " is not a regular file (a device): give a file name");
    }
    return std::make_unique<ItemReader>(std::move(file));
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
    // Without waiting, so that a pipe without a reader fails instead of hanging.
    bool created = false;
    SystemFile opened = SystemFile::openOutput(path, created);
    if (opened.kind() == FileKind::Pipe) throw notAFile(path);
    if (opened.kind() == FileKind::Regular && !opened.lock()) {
        throw described(kErrPermissionDenied,
                        path +
                            " is being written by another download: wait until it has "
                            "ended, or choose another data file");
    }
    auto file = std::make_unique<OutputFile>(std::move(opened), created);
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
