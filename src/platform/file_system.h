// Names on the disk, for the writers of durable files: nothing a user has is
// replaced, a new file is written under a temporary name and put in place
// when complete, and each name is on the disk before success is told. One
// implementation per platform (posix/, win32/); errors are the run-time
// errors of FileTable's, the same number for the same cause on each.
#pragma once

#include <vantor/errors.h>

#include <cstdio>
#include <optional>
#include <string>

#include "platform/system_file.h"

namespace vantor {

// What `path` names now, through links.
FileKind kindOf(const std::string& path);
std::optional<FileIdentity> identityOf(const std::string& path);

// The folder part of `path` ("." when it has none).
std::string folderOf(const std::string& path);
// `name` in `folder`, joined by the system's own separator.
std::string inFolder(const std::string& folder, const std::string& name);
// Puts the names in the folder of `path` on the disk, where the system
// keeps them apart from the files (nothing to do on Win32); false when the
// disk failed to.
bool syncFolderOf(const std::string& path);

// A new file beside `path`, under a temporary name of its own
// (path.XXXXXX) returned in `temporary`.
SystemFile createTemporaryBeside(const std::string& path, std::string& temporary);
// Renames the closed file `temporary` to `path`, replacing what is there,
// and puts the name on the disk.
void replaceWith(const std::string& temporary, const std::string& path);
// Gives the closed file `from` the name `to` when no file has it, and puts
// the name on the disk; false when `to` is taken (nothing happens then).
bool moveToFree(const std::string& from, const std::string& to);
// Removes `path`; false when it could not.
bool removeFile(const std::string& path);

// A path that is no regular file (a device, a FIFO, a socket, a standard
// stream under another name: POSIX only) opened as a stream, its C runtime
// descriptor; -1 for a regular file or a name not taken. 75 for a folder.
int openStream(const std::string& path);
// For `path` that is a stream, a file of its own away from it, whose
// descriptor is returned and whose name goes into `temporary`; -1 when
// `path` is a file (nothing happens then).
int createSpool(const std::string& path, std::string& temporary);
// When `temporary` is a spool createSpool made: writes it to its stream,
// `path` in errors (deliverSpool), or drops it (dropSpool), and returns true.
bool deliverSpool(const std::string& temporary, const std::string& path);
bool dropSpool(const std::string& temporary);

// A C runtime descriptor as a binary stream for writing (nullptr and
// errno when it cannot be), and one closed without a stream.
std::FILE* writeStreamOf(int descriptor);
void closeDescriptor(int descriptor);

// The C runtime's errno of a failed open, read or write of `path` as a
// run-time error naming it: `forInput` tells a missing file (53) from a
// missing folder (76).
RuntimeError fileErrorFromErrno(int err, bool forInput, bool parentExists, const std::string& path);

}  // namespace vantor
