#include <vantor/data_file.h>
#include <vantor/errors.h>

#include "platform/file_system.h"

namespace vantor {

namespace {

void copyAll(SystemFile& from, SystemFile& to) {
    char buf[65536];
    std::optional<RuntimeError> error;
    while (const std::size_t n = from.read(buf, sizeof buf)) {
        if (to.write(std::string_view(buf, n), error) != n) throw *error;
    }
    to.sync();
}

}  // namespace

std::string keepEarlierDownload(const std::string& path) {
    if (kindOf(path) != FileKind::Regular) return "";
    auto failed = [&](const std::string& copy, const std::string& why) {
        return RuntimeError(kErrPathFileAccess,
                            "Path/File access error: cannot keep the earlier download " + path +
                                " as " + copy + " (" + why + "); --overwrite replaces it instead");
    };
    SystemFile from;
    try {
        from = SystemFile::openInput(path);
    } catch (const RuntimeError& e) {
        throw failed(path + ".1", e.description());
    }
    if (from.kind() != FileKind::Regular || from.size() == 0) return "";
    std::string copy = path + ".1";
    try {
        firstFreeName(path, "", ".", [&](const std::string& name) {
            if (name == path) return false;
            copy = name;
            SystemFile to = SystemFile::createNew(name, &from);
            if (!to) return false;
            try {
                copyAll(from, to);
                to.close();
                // The copy's name must be on the disk before the download cuts the original.
                if (!syncFolderOf(name)) {
                    throw RuntimeError(kErrPathFileAccess, "the folder did not reach the disk");
                }
            } catch (...) {
                to.close();
                removeFile(name);
                throw;
            }
            return true;
        });
    } catch (const RuntimeError& e) {
        throw failed(copy, e.description());
    }
    return copy;
}

bool sameFile(const std::string& a, const std::string& b) {
    const auto ia = identityOf(a);
    return ia && ia == identityOf(b);
}

int openStreamOutput(const std::string& path) {
    return openStream(path);
}

int createBeside(const std::string& path, std::string& temporary) {
    if (const int writer = createSpool(path, temporary); writer >= 0) return writer;
    return createTemporaryBeside(path, temporary).releaseDescriptor();
}

void discardBeside(const std::string& temporary) {
    if (!dropSpool(temporary)) removeFile(temporary);
}

std::string putInPlace(const std::string& temporary, const std::string& path) {
    if (temporary == path) return "";
    if (deliverSpool(temporary, path)) return "";
    try {
        SystemFile::openInput(temporary).sync();
        const std::string kept = keepEarlierDownload(path);
        replaceWith(temporary, path);
        return kept;
    } catch (...) {
        removeFile(temporary);
        throw;
    }
}

}  // namespace vantor
