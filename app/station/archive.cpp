#include "archive.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/data_file.h>

#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace vantor::station {

namespace {

bool endsWith(const std::string& s, const std::string& ending) {
    return s.size() >= ending.size() &&
           s.compare(s.size() - ending.size(), ending.size(), ending) == 0;
}

// A folder's names from the start: a duplicate descriptor would share the
// offset an earlier listing left at the end.
DIR* listing(int folder) {
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr && fd >= 0) ::close(fd);
    return dir;
}

off_t sizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

}  // namespace

std::string utc(std::time_t t, const char* format) {
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

std::string iso(std::time_t t) {
    return utc(t, "%Y-%m-%dT%H:%M:%SZ");
}

std::string startName(std::time_t t) {
    return utc(t, "%Y%m%dT%H%M%SZ");
}

Fd::Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void Fd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string fdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

RuntimeError notOurs(const std::string& path, const char* what) {
    return RuntimeError(kErrPathFileAccess, standardDescription(kErrPathFileAccess) + ": " + path +
                                                " is a symbolic link or not a " + what +
                                                "; the station keeps its own " + what +
                                                " there and leaves this alone: move it away");
}

Fd folderIn(int at, const std::string& name, const std::string& shown) {
    const bool made = ::mkdirat(at, name.c_str(), 0750) == 0;
    Fd fd(::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        if (errno == ELOOP || errno == ENOTDIR) throw notOurs(shown, "folder");
        throw fileError(errno, shown, false);
    }
    if (made) ::fchmod(fd.get(), 0750);
    return fd;
}

Fd createFile(int folder, const std::string& name, const std::string& shown) {
    Fd fd(::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640));
    if (!fd) {
        if (errno == EEXIST || errno == ELOOP) throw notOurs(shown, "file");
        throw fileError(errno, shown, false);
    }
    ::fchmod(fd.get(), 0640);
    return fd;
}

Fd openRegular(int folder, const std::string& name) {
    Fd fd(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (fd && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        fd.reset();
        errno = ELOOP;
    }
    return fd;
}

bool isFile(int folder, const std::string& name, int fd) {
    struct stat at {
    }, open{};
    return ::fstatat(folder, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &open) == 0 && at.st_dev == open.st_dev && at.st_ino == open.st_ino;
}

std::string randomPart() {
    unsigned char bytes[8] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        const auto t = std::chrono::steady_clock::now().time_since_epoch().count();
        std::memcpy(bytes, &t, sizeof bytes);
    }
    std::string hex;
    for (const unsigned char b : bytes) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

std::string keepAs(int fd, int folder, const std::string& shownFolder, const std::string& from,
                   const std::string& base, const std::string& ending) {
    const std::string name = firstFreeName(base, ending, "-", [&](const std::string& n) {
        if (::linkat(AT_FDCWD, fdPath(fd).c_str(), folder, n.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return true;
        }
        if (errno == EEXIST) return false;
        throw fileError(errno, shownFolder + "/" + base + ending, false);
    });
    if (!from.empty() && isFile(folder, from, fd)) ::unlinkat(folder, from.c_str(), 0);
    ::fsync(folder);
    return name;
}

void markStart(int folder, const std::string& temp, std::time_t started) {
    const std::string mark = temp + ".start";
    try {
        const Fd fd = createFile(folder, mark, mark);
        const std::string text = std::to_string(static_cast<long long>(started)) + "\n";
        if (::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            ::unlinkat(folder, mark.c_str(), 0);
        }
    } catch (const RuntimeError&) {
        // The name falls back to the file's last write.
    }
}

std::optional<std::time_t> startMark(int folder, const std::string& temp) {
    const Fd fd = openRegular(folder, temp + ".start");
    if (!fd) return std::nullopt;
    char text[32] = {};
    if (::pread(fd.get(), text, sizeof text - 1, 0) <= 0) return std::nullopt;
    char* end = nullptr;
    const long long t = std::strtoll(text, &end, 10);
    if (end == text) return std::nullopt;
    return static_cast<std::time_t>(t);
}

Digest digestOf(int fd) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    Digest d;
    char buffer[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        hash.addData(QByteArrayView(buffer, n));
        d.lines += std::count(buffer, buffer + n, '\n');
        at += n;
    }
    d.sha256 = hash.result().toHex().toStdString();
    return d;
}

Archive::Archive(std::string path) : path_(std::move(path)) {
    const bool made = ::mkdir(path_.c_str(), 0750) == 0;
    dir_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_ < 0) throw fileError(errno, path_, false);
    if (made) ::fchmod(dir_, 0750);
    // Another station would take this one's transfers for a killed station's.
    const std::string lock = path_ + "/.station.lock";
    lock_ = ::openat(dir_, ".station.lock",
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0640);
    try {
        if (lock_ < 0) {
            if (errno == ELOOP) throw notOurs(lock, "file");
            throw fileError(errno, lock, false);
        }
        struct stat st {};
        if (::fstat(lock_, &st) == 0 && !S_ISREG(st.st_mode)) throw notOurs(lock, "file");
        if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
            throw RuntimeError(kErrPermissionDenied,
                               standardDescription(kErrPermissionDenied) + ": " + path_ +
                                   " is the archive of another running station; give each "
                                   "station its own");
        }
    } catch (...) {
        if (lock_ >= 0) ::close(lock_);
        ::close(dir_);
        throw;
    }
    ::fchmod(lock_, 0640);
}

Archive::~Archive() {
    ::close(lock_);
    ::close(dir_);
}

std::unique_ptr<SiteDatabase> Archive::openIndex(std::string& setAside, std::string& why) {
    const std::string path = indexPath();
    // SQLite opens these by name: none may lead elsewhere.
    for (const char* ending : {"", "-wal", "-shm", "-journal"}) {
        struct stat st {};
        const std::string name = std::string(kIndex) + ending;
        if (::fstatat(dir_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
            throw notOurs(path + ending, "file");
        }
    }
    const auto fresh = [&] {
        // An empty file is an empty database: made here, it is the station's.
        const int fd =
            ::openat(dir_, kIndex, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
        if (fd >= 0) {
            ::fchmod(fd, 0640);
            ::close(fd);
        }
    };
    fresh();
    std::unique_ptr<SiteDatabase> index;
    try {
        index = std::make_unique<SiteDatabase>("sqlite:" + path);
    } catch (const DatabaseError& e) {
        if (!SiteDatabase::damaged(path)) throw;
        // Nothing in it is lost: every download is a file of the archive.
        for (int n = 1;; ++n) {
            setAside = std::string(kIndex) + ".corrupt-" + std::to_string(n);
            if (::linkat(dir_, kIndex, dir_, setAside.c_str(), 0) == 0) break;
            if (errno != EEXIST || n > 10000) throw;
        }
        ::unlinkat(dir_, kIndex, 0);
        for (const char* ending : {"-wal", "-shm", "-journal"}) {
            const std::string from = std::string(kIndex) + ending;
            if (::linkat(dir_, from.c_str(), dir_, (setAside + ending).c_str(), 0) == 0)
                ::unlinkat(dir_, from.c_str(), 0);
        }
        why = e.description();
        fresh();
        index = std::make_unique<SiteDatabase>("sqlite:" + path);
    }
    struct stat st {};
    if (::fstatat(dir_, kIndex, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        indexDev_ = st.st_dev;
        indexIno_ = st.st_ino;
    }
    return index;
}

bool Archive::indexMoved() const {
    struct stat st {};
    return ::fstatat(dir_, kIndex, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_dev != indexDev_ ||
           st.st_ino != indexIno_;
}

Recovery Archive::recover(
    const std::function<SiteDatabase&()>& index, const ExportOptions& clock,
    const std::function<bool(const std::string&, const std::string&)>& running) {
    Recovery r;
    for (const std::string& stable : folders(r)) {
        const Fd folder(
            ::openat(dir_, stable.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder) continue;
        std::vector<std::string> names;
        if (DIR* inner = listing(folder.get())) {
            while (const dirent* f = ::readdir(inner)) names.push_back(f->d_name);
            ::closedir(inner);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const bool left = name.rfind(kIncoming, 0) == 0;
            if (left && running && endsWith(name, ".dat") &&
                running(stable, name.substr(0, name.size() - 4))) {
                continue;
            }
            if (!recoverFile(folder.get(), stable, name, index, clock, r)) r.stillOut = true;
        }
    }
    try {
        addMissingReadings(index(), clock, r);
    } catch (const RuntimeError& e) {
        r.found.push_back({Found::IndexFailed, "", e.description()});
        r.stillOut = true;
    }
    return r;
}

// The device folders, sorted; a link among them is named and left alone.
std::vector<std::string> Archive::folders(Recovery& r) {
    std::vector<std::string> folders;
    if (DIR* top = listing(dir_)) {
        while (const dirent* d = ::readdir(top)) {
            if (d->d_name[0] == '.') continue;
            struct stat st {};
            if (::fstatat(dir_, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                folders.push_back(d->d_name);
            } else if (S_ISLNK(st.st_mode)) {
                r.found.push_back({Found::LinkFolder, path_ + "/" + d->d_name, ""});
            }
        }
        ::closedir(top);
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

// False when the file must be tried again later.
bool Archive::recoverFile(int folder, const std::string& stable, const std::string& name,
                          const std::function<SiteDatabase&()>& index, const ExportOptions& clock,
                          Recovery& r) {
    const bool left = name.rfind(kIncoming, 0) == 0;
    const std::string shownFolder = path_ + "/" + stable;
    const std::string shown = shownFolder + "/" + name;
    if (left && endsWith(name, ".start")) {
        // A start mark goes with its transfer's file, or alone when that is gone.
        struct stat st {};
        const std::string of = name.substr(0, name.size() - 6);
        if (::fstatat(folder, of.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
            ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
            ::unlinkat(folder, name.c_str(), 0);
        }
        return true;
    }
    const bool filed = !left && name[0] != '.' && endsWith(name, ".dat");
    // A transfer's bytes go with its file.
    if ((!left && !filed) || (left && !endsWith(name, ".dat"))) return true;
    const std::string base = name.substr(0, name.size() - 4);
    const Fd fd = openRegular(folder, name);
    if (!fd) {
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            r.found.push_back({Found::NotAFile, shown, ""});
        return true;
    }
    struct stat st {};
    ::fstat(fd.get(), &st);
    try {
        if (filed && index().has("", stable + "/" + name)) return true;
        if (left && st.st_size == 0) {
            ::unlinkat(folder, name.c_str(), 0);
            ::unlinkat(folder, (name + ".start").c_str(), 0);
            const Fd raw = openRegular(folder, base + ".raw");
            if (raw && sizeOf(raw.get()) == 0) ::unlinkat(folder, (base + ".raw").c_str(), 0);
            return true;
        }
        SiteDatabase::Download row;
        row.device = "(unknown)";
        row.stableName = stable;
        row.started = row.ended = iso(st.st_mtime);
        std::string kept = name;
        if (left) {
            row.outcome = "cut short (the station was killed)";
            const std::time_t started = startMark(folder, name).value_or(st.st_mtime);
            row.started = iso(started);
            kept = keepAs(fd.get(), folder, shownFolder, name, startName(started), ".partial.dat");
            ::unlinkat(folder, (name + ".start").c_str(), 0);
            if (const Fd raw = openRegular(folder, base + ".raw"))
                keepAs(raw.get(), folder, shownFolder, base + ".raw", kept, ".raw");
        } else {
            std::tm tm{};
            if (::strptime(name.c_str(), "%Y%m%dT%H%M%SZ", &tm) != nullptr) {
                row.started = iso(::timegm(&tm));
            }
            row.outcome = name.find(".partial.") != std::string::npos
                              ? "cut short (indexed later)"
                              : "end marker (indexed later)";
        }
        const Digest digest = digestOf(fd.get());
        row.sha256 = digest.sha256;
        row.records = digest.lines;
        row.file = stable + "/" + kept;
        index().add(row, fdPath(fd.get()), clock);
        r.found.push_back({left ? Found::Kept : Found::Indexed, row.file, ""});
    } catch (const RuntimeError& e) {
        r.found.push_back({Found::Failed, shown, e.description()});
        return false;
    }
    return true;
}

// Downloads indexed before the index kept readings.
void Archive::addMissingReadings(SiteDatabase& index, const ExportOptions& clock, Recovery& r) {
    for (std::int64_t id : index.withoutReadings()) {
        const SiteDatabase::Download d = index.download(id);
        try {
            const auto slash = d.file.find('/');
            const Fd folder(::openat(dir_, d.file.substr(0, slash).c_str(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            const Fd fd = folder && slash != std::string::npos
                              ? openRegular(folder.get(), d.file.substr(slash + 1))
                              : Fd();
            if (!fd) throw fileError(errno, path_ + "/" + d.file, true);
            index.addReadings(id, fdPath(fd.get()), clock);
        } catch (const DatabaseError&) {
            throw;
        } catch (const RuntimeError& e) {
            r.found.push_back({Found::NoReadings, d.file, e.description()});
        }
    }
}

}  // namespace vantor::station
