// The errno of a failed write or sync as a run-time error: the same rules
// as fileErrorFromErrno, and 61 for every way of running out of room.
#pragma once

#include <vantor/errors.h>

#include <string>

namespace vantor {

RuntimeError writeErrorFromErrno(int err, const std::string& path);

}  // namespace vantor
