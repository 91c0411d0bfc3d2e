// A download never replaces an earlier one without being asked: the earlier
// data file is kept beside it under a numbered name.
#pragma once

#include <string>

namespace vantor::cli {

// When `path` is a regular file that is not empty, copies it to path.N (the
// lowest N whose name is free) and returns that name; otherwise returns "".
// The original stays in place, so a download that then cannot arm loses
// nothing. Throws RuntimeError naming the files when the copy fails.
std::string keepEarlierDownload(const std::string& path);

}  // namespace vantor::cli
