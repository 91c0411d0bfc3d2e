// The one mapping of the operating system's file errors to run-time errors.
#pragma once

#include <vantor/errors.h>

#include <string>

namespace vantor {

// Maps an errno value of a failed open, read or write of `path` to a
// run-time error whose description names the path. `forInput` tells a
// missing file (53) from a missing folder (76).
RuntimeError fileErrorFromErrno(int err, bool forInput, bool parentExists, const std::string& path);

// The folder part of `path` ("." when it has none).
std::string folderOf(const std::string& path);

}  // namespace vantor
