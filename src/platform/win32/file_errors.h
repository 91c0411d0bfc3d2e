// Win32's error codes of file calls as run-time errors, with the numbers the
// POSIX mapping gives for the same causes.
#pragma once

#include <vantor/errors.h>

#include <string>

namespace vantor {

// `err` is a GetLastError() code of a failed call on `path`; `forInput`
// tells a missing file (53) from a missing folder (76).
RuntimeError fileErrorFromWin32(unsigned long err, const std::string& path, bool forInput);
// The same for a write or a flush: 61 for every way of running out of room.
RuntimeError writeErrorFromWin32(unsigned long err, const std::string& path);
// Whether `path` names a folder.
bool isFolder(const std::string& path);

}  // namespace vantor
