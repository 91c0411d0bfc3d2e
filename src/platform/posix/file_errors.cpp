#include "platform/posix/file_errors.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/file_system.h"

namespace vantor {

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

RuntimeError fileErrorFromErrno(int err, bool forInput, bool parentExists,
                                const std::string& path) {
    auto error = [&](ErrorNumber number, const std::string& why) {
        return RuntimeError(number, standardDescription(number) + ": " + path + why);
    };
    switch (err) {
        case ENOENT:
            if (forInput && parentExists) return error(kErrFileNotFound, "");
            return error(kErrPathNotFound, " (the folder " + folderOf(path) + " does not exist)");
        case ENOTDIR:
            return error(kErrPathNotFound, " (a part of the path is not a folder)");
        case EACCES:
        case EPERM:
            return error(kErrPermissionDenied,
                         forInput ? " (no read access)" : " (no write access)");
        case ENOSPC:
        case EDQUOT:
            return error(kErrDiskFull, "");
        case EMFILE:
        case ENFILE:
            return error(kErrTooManyFiles, "");
        default:
            return error(kErrPathFileAccess, std::string(" (") + std::strerror(err) + ")");
    }
}

RuntimeError fileError(int err, const std::string& path, bool forInput) {
    struct stat st {};
    const bool parentExists = ::stat(folderOf(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return fileErrorFromErrno(err, forInput, parentExists, path);
}

RuntimeError writeErrorFromErrno(int err, const std::string& path) {
    if (err == ENOSPC || err == EDQUOT || err == EFBIG) {
        return RuntimeError(kErrDiskFull, standardDescription(kErrDiskFull) + ": " + path + " (" +
                                              std::strerror(err) + ")");
    }
    return fileErrorFromErrno(err, false, true, path);
}

}  // namespace vantor
