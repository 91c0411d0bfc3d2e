#include "files/output_file.h"

#include "platform/file_system.h"

namespace vantor {

OutputFile::OutputFile(SystemFile file, bool created)
    : file_(std::move(file)),
      created_(created),
      identity_(file_.identity()),
      regular_(file_.kind() == FileKind::Regular) {}

OutputFile::~OutputFile() {
    close();
}

void OutputFile::empty() {
    if (!file_ || !regular_) return;
    file_.cut(0);
    committed_ = 0;
    committedLines_ = 0;
}

std::size_t OutputFile::fail(const RuntimeError& error, std::size_t lost) {
    lastError_ = error;
    pending_.clear();
    pendingLines_ = 0;
    return lost;
}

std::size_t OutputFile::loseAll(const RuntimeError& error) {
    std::size_t gone = committedLines_;
    committedLines_ = 0;
    return fail(error, gone);
}

std::size_t OutputFile::flush() {
    if (!file_) {
        std::size_t lost = pendingLines_;
        pending_.clear();
        pendingLines_ = 0;
        return lost;
    }
    std::optional<RuntimeError> error;
    const std::size_t done = file_.write(pending_, error);
    if (error) {
        // Keep only whole lines: count those that made it, cut the rest off.
        std::size_t whole = 0, lines = 0;
        for (std::size_t i = 0; i < done; ++i) {
            if (pending_[i] == '\n') {
                whole = i + 1;
                ++lines;
            }
        }
        committed_ += static_cast<long long>(whole);
        committedLines_ += lines;
        try {
            if (regular_) file_.cut(committed_);
        } catch (const RuntimeError&) {
            // The write's failure is the one to tell.
        }
        return fail(*error, pendingLines_ - lines);
    }
    committed_ += static_cast<long long>(done);
    committedLines_ += pendingLines_;
    pending_.clear();
    pendingLines_ = 0;
    return 0;
}

std::size_t OutputFile::settle() {
    if (!file_) return 0;
    std::size_t lost = flush();
    if (!regular_) return lost;
    const std::string& path = file_.path();
    if (!identity_ || identityOf(path) != identity_) {
        // Whatever was written went to a file nobody can find any more.
        return lost + loseAll(RuntimeError(kErrPathFileAccess,
                                           standardDescription(kErrPathFileAccess) + ": " + path +
                                               " was removed or replaced while records were "
                                               "written to it; they are lost"));
    }
    if (const long long size = file_.size(); size != committed_) {
        // Emptied, cut or written by another program meanwhile: the lines in
        // it are not the ones this download wrote.
        return lost + loseAll(RuntimeError(
                          kErrPathFileAccess,
                          standardDescription(kErrPathFileAccess) + ": " + path +
                              " was changed by another program while records were written to "
                              "it (it holds " +
                              std::to_string(size) + " bytes where this download wrote " +
                              std::to_string(committed_) + "); they are lost"));
    }
    try {
        file_.sync();
    } catch (const RuntimeError& e) {
        return lost + loseAll(e);
    }
    if (created_) {
        // A new file's name is only safe once its folder is on the disk too.
        syncFolderOf(path);
        created_ = false;
    }
    return lost;
}

std::size_t OutputFile::close() {
    if (!file_) return 0;
    std::size_t lost = flush();
    file_.close();
    return lost;
}

void OutputFile::abandon() {
    if (!file_) return;
    pending_.clear();
    pendingLines_ = 0;
    const bool untouched = file_.size() == 0;
    const std::string path = file_.path();
    const bool ours = created_ && untouched && identity_ && identityOf(path) == identity_;
    file_.close();
    if (ours) removeFile(path);
}

}  // namespace vantor
