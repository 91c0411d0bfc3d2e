#include "station.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/data_file.h>
#include <vantor/port_list.h>
#include <vantor/qt_platform.h>
#include <vantor/status_panel.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <set>
#include <tuple>
#include <utility>

#include "arguments.h"
#include "exit_status.h"
#include "port_search.h"
#include "signal_watch.h"

namespace vantor::cli {

namespace {

constexpr const char* kIndex = "index.sqlite";
constexpr const char* kIncoming = ".incoming-";

std::string str(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

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

bool endsWith(const std::string& s, const std::string& ending) {
    return s.size() >= ending.size() &&
           s.compare(s.size() - ending.size(), ending.size(), ending) == 0;
}

// A device or link name may hold a newline: escaped, it cannot pass for a
// line of its own.
std::string escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// One line per event, with the time: journald keeps it.
__attribute__((format(printf, 1, 2))) void log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    const std::string line = iso(std::time(nullptr)) + " station: " + escaped(text) + "\n";
    // The site's sender logs from its own thread: one write is one line.
    ::flockfile(stderr);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    ::funlockfile(stderr);
}

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? buffer : path;
}

// A folder name that stays the same: the by-id name of an adapter, else the
// name the device was given.
std::string stableName(const std::string& device) {
    std::string name = device.substr(device.find_last_of('/') + 1);
    for (const SerialPortEntry& p : listSerialPorts(false)) {
        if (realPath(p.device) == realPath(device) && !p.stableNames.empty()) {
            name = p.stableNames.front().substr(p.stableNames.front().find_last_of('/') + 1);
        }
    }
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.' &&
            c != ':' && c != '+') {
            c = '_';
        }
    }
    return name.empty() || name[0] == '.' ? "_" + name : name;
}

// An open file of the station's own, closed when it goes.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

// The name that opens the very file `fd` is, whatever is at its own name
// now: the control and the readers open it by that name.
std::string fdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

RuntimeError notOurs(const std::string& path, const char* what) {
    return RuntimeError(kErrPathFileAccess, standardDescription(kErrPathFileAccess) + ": " + path +
                                                " is a symbolic link or not a " + what +
                                                "; the station keeps its own " + what +
                                                " there and leaves this alone: move it away");
}

// A folder of the archive, made 0750 when it is new; never through a link.
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

// A new file of the station's own, 0640 whatever the umask; never one
// already there, never through a link.
Fd createFile(int folder, const std::string& name, const std::string& shown) {
    Fd fd(::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640));
    if (!fd) {
        if (errno == EEXIST || errno == ELOOP) throw notOurs(shown, "file");
        throw fileError(errno, shown, false);
    }
    ::fchmod(fd.get(), 0640);
    return fd;
}

// A regular file of the archive, for reading; none when it is a link or
// anything else.
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

// A folder's names from the start: a duplicate descriptor would share the
// offset an earlier listing left at the end.
DIR* listing(int folder) {
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr && fd >= 0) ::close(fd);
    return dir;
}

bool isFile(int folder, const std::string& name, int fd) {
    struct stat at {
    }, open{};
    return ::fstatat(folder, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &open) == 0 && at.st_dev == open.st_dev && at.st_ino == open.st_ino;
}

// Unpredictable, so that nothing can be planted at the name beforehand.
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

// Gives the file `fd` the name `base` + `ending` in `folder`, or base-1...,
// never one already there, and takes the name `from` away when it still
// is that file; returns the name taken.
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

// When a transfer began, beside its temporary file: a station killed during
// it cannot say so afterwards, and the file is named by its start.
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

// The SHA-256 and the lines of the file `fd` is.
std::pair<std::string, std::int64_t> digestOf(int fd) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::int64_t lines = 0;
    char buffer[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        hash.addData(QByteArrayView(buffer, n));
        lines += std::count(buffer, buffer + n, '\n');
        at += n;
    }
    return {hash.result().toHex().toStdString(), lines};
}

off_t sizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

const char* outcomeName(TransferOutcome outcome, bool idled) {
    switch (outcome) {
        case TransferOutcome::EndMarker:
            return "end marker";
        case TransferOutcome::DeviceLost:
            return "device lost";
        case TransferOutcome::TimedOut:
            return idled ? "idle" : "timeout";
        case TransferOutcome::Aborted:
            return "station stopped";
        case TransferOutcome::Failed:
            return "records lost";
        default:
            return "error";
    }
}

// The control's message boxes, handed to the station.
class LogSink : public MessageSink {
  public:
    explicit LogSink(std::function<void(const std::string&)> take) : take_(std::move(take)) {}
    void show(const std::string& text) override {
        if (text != "Data Received O.K!") take_(text);
    }

  private:
    std::function<void(const std::string&)> take_;
};

}  // namespace

struct Station::Meter {
    std::string key;  // in meters_
    unsigned serial = 0;
    std::string device;
    std::string stable;
    std::string folder;  // for messages; opened as folderFd
    Fd folderFd;
    std::unique_ptr<Vantor_Comm> control;
    bool units = false;             // the control has the unit file's names
    std::string base;               // the temporary files' name, without an ending
    std::string temp;               // the temporary data file, for messages
    Fd tempFd;                      // what the control writes, whatever is at its name
    Fd rawFd;                       // the bytes read, without unit names
    bool arming = false;            // the control's messages wait for the outcome
    bool ending = false;            // finish() is on its way
    std::vector<std::string> said;  // while arming
    std::optional<std::time_t> started;
    QTimer idle;
    bool idled = false;

    std::string tempName() const { return base + ".dat"; }
    // The control names its file by the descriptor's name: the folder's is
    // the one a user knows.
    std::string named(std::string text) const {
        if (!tempFd) return text;
        const std::string by = fdPath(tempFd.get());
        for (auto at = text.find(by); at != std::string::npos; at = text.find(by, at)) {
            text.replace(at, by.size(), temp);
            at += temp.size();
        }
        return text;
    }
};

Station::Station(StationOptions options, std::shared_ptr<MessageLoop> loop)
    : options_(std::move(options)), loop_(std::move(loop)) {
    const bool made = ::mkdir(options_.archive.c_str(), 0750) == 0;
    archive_ = ::open(options_.archive.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (archive_ < 0) throw fileError(errno, options_.archive, false);
    if (made) ::fchmod(archive_, 0750);
    // One station per archive: another would take this one's transfers
    // for a killed station's.
    const std::string lock = options_.archive + "/.station.lock";
    lock_ = ::openat(archive_, ".station.lock",
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0640);
    if (lock_ < 0) {
        if (errno == ELOOP) throw notOurs(lock, "file");
        throw fileError(errno, lock, false);
    }
    struct stat st {};
    if (::fstat(lock_, &st) == 0 && !S_ISREG(st.st_mode)) throw notOurs(lock, "file");
    if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        throw RuntimeError(kErrPermissionDenied,
                           standardDescription(kErrPermissionDenied) + ": " + options_.archive +
                               " is the archive of another running station; give each "
                               "station its own");
    }
    ::fchmod(lock_, 0640);
    openIndex();
    station_ = QSysInfo::machineHostName().toStdString() + ":" + realPath(options_.archive);

    QObject::connect(&rescan_, &QTimer::timeout, [this] { rescan(false); });
    reindex_.setSingleShot(true);
    QObject::connect(&reindex_, &QTimer::timeout, [this] { recover(); });
    settle_.setSingleShot(true);
    QObject::connect(&settle_, &QTimer::timeout, [this] { rescan(false); });
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this] {
        if (!settle_.isActive()) settle_.start(300);
    });
}

void Station::openIndex() {
    const std::string path = options_.archive + "/" + kIndex;
    // SQLite opens these by name: none may lead elsewhere.
    for (const char* ending : {"", "-wal", "-shm", "-journal"}) {
        struct stat st {};
        const std::string name = std::string(kIndex) + ending;
        if (::fstatat(archive_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISREG(st.st_mode)) {
            throw notOurs(path + ending, "file");
        }
    }
    const auto fresh = [&] {
        // An empty file is an empty database: made here, it is the station's.
        const int fd =
            ::openat(archive_, kIndex, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
        if (fd >= 0) {
            ::fchmod(fd, 0640);
            ::close(fd);
        }
    };
    fresh();
    index_.reset();
    try {
        index_ = std::make_unique<SiteDatabase>("sqlite:" + path);
    } catch (const DatabaseError& e) {
        if (!SiteDatabase::damaged(path)) throw;
        // Nothing in it is lost: every download is a file of the archive.
        int n = 1;
        std::string aside;
        for (;; ++n) {
            aside = std::string(kIndex) + ".corrupt-" + std::to_string(n);
            if (::linkat(archive_, kIndex, archive_, aside.c_str(), 0) == 0) break;
            if (errno != EEXIST || n > 10000) throw;
        }
        ::unlinkat(archive_, kIndex, 0);
        for (const char* ending : {"-wal", "-shm", "-journal"}) {
            const std::string from = std::string(kIndex) + ending;
            if (::linkat(archive_, from.c_str(), archive_, (aside + ending).c_str(), 0) == 0)
                ::unlinkat(archive_, from.c_str(), 0);
        }
        log("%s is damaged (%s): set aside as %s/%s; a new index is made from the archive",
            path.c_str(), e.description().c_str(), options_.archive.c_str(), aside.c_str());
        fresh();
        index_ = std::make_unique<SiteDatabase>("sqlite:" + path);
    }
    struct stat st {};
    if (::fstatat(archive_, kIndex, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        indexDev_ = st.st_dev;
        indexIno_ = st.st_ino;
    }
}

bool Station::indexMoved() const {
    struct stat st {};
    return ::fstatat(archive_, kIndex, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_dev != indexDev_ ||
           st.st_ino != indexIno_;
}

SiteDatabase& Station::index() {
    if (index_ && !indexMoved()) return *index_;
    if (index_) {
        log("%s/%s was removed or replaced while the station ran; a new index is made from the "
            "archive",
            options_.archive.c_str(), kIndex);
        index_.reset();
        // Everything the new one lacks, once this write is through.
        reindex_.start(0);
    }
    openIndex();
    return *index_;
}

void Station::checkUnitFile() {
    const std::string dir = options_.appPath.empty() ? "DIR" : options_.appPath;
    std::string why = "no --app-path was given";
    if (!options_.appPath.empty()) {
        try {
            ControlOptions parts;
            parts.loop = loop_;
            parts.messages = std::make_shared<LogSink>([](const std::string&) {});
            auto probe = createControl(std::move(parts));
            probe->AppPath(options_.appPath);
            probe->ReadUnitFile();
            unitFile_ = true;
            return;
        } catch (const RuntimeError& e) {
            why = e.description();
        }
    }
    log("no unit file (%s): unit names are written as ten NUL characters, and each download's "
        "bytes are kept beside it as FILE.raw; 'vantor-comm decode FILE.raw --app-path %s "
        "--data-file FILE' writes it again with names; put unit2.dat in %s%s and restart the "
        "station",
        why.c_str(), dir.c_str(), dir.c_str(),
        options_.appPath.empty() ? ", give --app-path DIR" : "");
}

bool Station::watchFolders() {
    QStringList folders;
    bool all = true;
    for (const std::string& pattern : options_.patterns) {
        if (pattern == "auto") {
            // A lock file going names a port another program let go of.
            folders << "/dev"
                    << "/dev/serial/by-id"
                    << "/run/lock"
                    << "/var/lock";
            continue;
        }
        const auto slash = pattern.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash);
        if (folder.find_first_of("*?[") != std::string::npos) {
            all = false;
        } else {
            folders << QString::fromLocal8Bit((folder.empty() ? "/" : folder).c_str());
        }
    }
    for (const QString& f : folders) {
        if (watcher_.directories().contains(f)) continue;
        // A folder not there yet (by-id before the first adapter) is its
        // parent's change, watched as well.
        if (QFileInfo(f).isDir()) {
            watcher_.addPath(f);
        } else if (f != "/dev/serial/by-id" && f != "/var/lock" && f != "/run/lock") {
            all = false;
        }
    }
    return all;
}

Station::~Station() {
    meters_.clear();
    index_.reset();
    if (lock_ >= 0) ::close(lock_);
    if (archive_ >= 0) ::close(archive_);
}

// Transfers a killed station left under their temporary names, and files
// whose index row could not be written (a full disk, say).
void Station::recover() {
    bool stillOut = false;
    for (const std::string& stable : archiveFolders()) {
        const Fd folder(
            ::openat(archive_, stable.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder) continue;
        std::vector<std::string> names;
        if (DIR* inner = listing(folder.get())) {
            while (const dirent* f = ::readdir(inner)) names.push_back(f->d_name);
            ::closedir(inner);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (!recoverFile(folder.get(), stable, name)) stillOut = true;
        }
    }
    if (!addMissingReadings()) stillOut = true;
    if (stillOut) reindex_.start(10000);
}

// The archive's device folders, sorted; a link among them is named and
// left alone.
std::vector<std::string> Station::archiveFolders() {
    std::vector<std::string> folders;
    if (DIR* top = listing(archive_)) {
        while (const dirent* d = ::readdir(top)) {
            if (d->d_name[0] == '.') continue;
            struct stat st {};
            if (::fstatat(archive_, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                folders.push_back(d->d_name);
            } else if (S_ISLNK(st.st_mode)) {
                log("%s/%s is a symbolic link: left alone", options_.archive.c_str(), d->d_name);
            }
        }
        ::closedir(top);
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

bool Station::recoverFile(int folder, const std::string& stable, const std::string& name) {
    const bool left = name.rfind(kIncoming, 0) == 0;
    const std::string shownFolder = options_.archive + "/" + stable;
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
    // Not a temporary file of a transfer running in this station.
    const std::string base = name.substr(0, name.size() - 4);
    if (left && std::any_of(meters_.begin(), meters_.end(), [&](const auto& m) {
            return m.second->stable == stable && m.second->base == base;
        })) {
        return true;
    }
    const Fd fd = openRegular(folder, name);
    if (!fd) {
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            log("%s is a symbolic link or not a file: left alone", shown.c_str());
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
            kept = keepAs(fd.get(), folder, shownFolder, name, utc(started, "%Y%m%dT%H%M%SZ"),
                          ".partial.dat");
            ::unlinkat(folder, (name + ".start").c_str(), 0);
            if (const Fd raw = openRegular(folder, base + ".raw"))
                keepAs(raw.get(), folder, shownFolder, base + ".raw", kept, ".raw");
        } else {
            // Named by its start: yyyymmddThhmmssZ.
            std::tm tm{};
            if (::strptime(name.c_str(), "%Y%m%dT%H%M%SZ", &tm) != nullptr) {
                row.started = iso(::timegm(&tm));
            }
            row.outcome = name.find(".partial.") != std::string::npos
                              ? "cut short (indexed later)"
                              : "end marker (indexed later)";
        }
        std::tie(row.sha256, row.records) = digestOf(fd.get());
        row.file = stable + "/" + kept;
        index().add(row, fdPath(fd.get()), clock_);
        log(left ? "kept %s, cut short when the station was killed" : "indexed %s",
            row.file.c_str());
    } catch (const RuntimeError& e) {
        log("%s: %s", shown.c_str(), e.description().c_str());
        return false;
    }
    return true;
}

// Downloads indexed before the index kept readings.
bool Station::addMissingReadings() {
    try {
        for (std::int64_t id : index().withoutReadings()) {
            const SiteDatabase::Download d = index().download(id);
            try {
                const auto slash = d.file.find('/');
                const Fd folder(::openat(archive_, d.file.substr(0, slash).c_str(),
                                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                const Fd fd = folder && slash != std::string::npos
                                  ? openRegular(folder.get(), d.file.substr(slash + 1))
                                  : Fd();
                if (!fd) throw fileError(errno, options_.archive + "/" + d.file, true);
                index().addReadings(id, fdPath(fd.get()), clock_);
            } catch (const DatabaseError&) {
                throw;
            } catch (const RuntimeError& e) {
                log("%s: no readings indexed: %s", d.file.c_str(), e.description().c_str());
            }
        }
    } catch (const RuntimeError& e) {
        log("%s", e.description().c_str());
        return false;
    }
    return true;
}

void Station::rescan(bool said) {
    if (stopping_) return;
    if (said) log("reading the device list again");
    watchedAll_ = watchFolders();
    const std::vector<std::string> devices = ports::portsMatching(options_.patterns, true);
    std::set<std::string> present;
    for (const std::string& device : devices) present.insert(realPath(device));
    std::erase_if(refused_, [&](const auto& r) { return present.count(r.first) == 0; });
    for (const std::string& device : devices) {
        const std::string real = realPath(device);
        if (meters_.count(real) != 0) continue;
        auto meter = std::make_unique<Meter>();
        meter->key = real;
        meter->serial = ++serial_;
        meter->device = device;
        meter->stable = stableName(device);
        meter->folder = options_.archive + "/" + meter->stable;
        Meter& m = *meter;
        meters_.emplace(real, std::move(meter));
        arm(m);
    }
    // Idle ports cost nothing: looking again on a clock only while a folder
    // can't be watched or a port can't be armed (busy, no permission yet).
    if (watchedAll_ && refused_.empty()) {
        rescan_.stop();
    } else if (!rescan_.isActive()) {
        rescan_.start(2000);
    }
}

void Station::makeControl(Meter& m) {
    ControlOptions parts;
    parts.loop = loop_;
    parts.messages = std::make_shared<LogSink>([&m](const std::string& text) {
        // A port that cannot be armed is said once, by arm().
        if (m.arming) {
            m.said.push_back(text);
        } else {
            log("%s: %s", m.device.c_str(), m.named(text).c_str());
        }
    });
    parts.serial = qtSerialBackend();
    m.control = createControl(std::move(parts));
    m.control->Ports().set(1, m.device);
    m.control->Port(1);
    if (unitFile_) {
        try {
            m.control->AppPath(options_.appPath);
            m.control->ReadUnitFile();
            m.units = true;
        } catch (const RuntimeError& e) {
            log("%s: no unit names (%s): each download's bytes are kept beside it",
                m.device.c_str(), e.description().c_str());
        }
    }
    m.control->onBytesRead = [this, &m](std::string_view bytes) {
        if (!m.started) {
            m.started = std::time(nullptr);
            markStart(m.folderFd.get(), m.tempName(), *m.started);
            log("%s: receiving", m.device.c_str());
        }
        if (m.rawFd) {
            // The bytes are all a download without unit names has of them.
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n = ::write(m.rawFd.get(), bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    const RuntimeError e =
                        fileError(n < 0 ? errno : ENOSPC, m.folder + "/" + m.base + ".raw", false);
                    log("%s: %s; the bytes are not all kept", m.device.c_str(),
                        e.description().c_str());
                    m.rawFd.reset();
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
        }
        if (options_.idleSeconds) m.idle.start(static_cast<int>(*options_.idleSeconds * 1000));
    };
    m.control->onTransferEnded = [this, &m] {
        m.ending = true;
        // Not from inside the control's own event: it may go.
        loop_->post([this, key = m.key, serial = m.serial] { finish(key, serial); });
    };
    m.idle.setSingleShot(true);
    QObject::connect(&m.idle, &QTimer::timeout, [&m] {
        m.idled = true;
        m.control->AbortTransfer(TransferOutcome::TimedOut);
    });
}

void Station::openFolder(Meter& m) {
    if (!m.folderFd) m.folderFd = folderIn(archive_, m.stable, m.folder);
}

void Station::newTemp(Meter& m) {
    m.base = kIncoming + randomPart();
    m.temp = m.folder + "/" + m.tempName();
    m.tempFd = createFile(m.folderFd.get(), m.tempName(), m.temp);
    if (!m.units)
        m.rawFd = createFile(m.folderFd.get(), m.base + ".raw", m.folder + "/" + m.base + ".raw");
}

// The temporary files of a transfer that has nothing to keep.
void Station::dropTemp(Meter& m) {
    if (!m.folderFd) return;
    const int folder = m.folderFd.get();
    if (m.tempFd && isFile(folder, m.tempName(), m.tempFd.get()))
        ::unlinkat(folder, m.tempName().c_str(), 0);
    if (m.rawFd && isFile(folder, m.base + ".raw", m.rawFd.get()))
        ::unlinkat(folder, (m.base + ".raw").c_str(), 0);
    m.tempFd.reset();
    m.rawFd.reset();
}

void Station::arm(Meter& m) {
    try {
        if (!m.control) makeControl(m);
        openFolder(m);
        newTemp(m);
        m.started.reset();
        m.idled = false;
        m.ending = false;
        m.said.clear();
        m.control->df = fdPath(m.tempFd.get());
        m.arming = true;
        m.control->Start();
        m.arming = false;
        // Nobody sees the panel blink: an armed port must cost no wakeups.
        m.control->Panel().Timer1.setEnabled(false);
        if (!m.control->fgComPortOpen) {
            const auto& e = m.control->LastError();
            throw RuntimeError(e ? e->number() : kErrPathFileAccess,
                               e ? m.named(e->description()) : "the port could not be opened");
        }
    } catch (const RuntimeError& e) {
        m.arming = false;
        // Said once; tried again at every scan.
        const std::string key = m.key;
        if (refused_[key] != e.description())
            log("%s: not armed: %s", m.device.c_str(), e.description().c_str());
        refused_[key] = e.description();
        dropTemp(m);
        // No empty folder stays for a port that never was one.
        if (m.folderFd) ::unlinkat(archive_, m.stable.c_str(), AT_REMOVEDIR);
        meters_.erase(key);
        return;
    }
    for (const std::string& text : m.said) log("%s: %s", m.device.c_str(), m.named(text).c_str());
    m.said.clear();
    refused_.erase(m.key);
    log("%s: armed, into %s", m.device.c_str(), m.folder.c_str());
}

void Station::file(Meter& m) {
    Vantor_Comm& c = *m.control;
    const TransferOutcome outcome = c.LastTransferOutcome();
    const bool whole = outcome == TransferOutcome::EndMarker;
    const std::time_t started = *m.started;
    const int fd = m.tempFd.get();
    SiteDatabase::Download row;
    row.device = m.device;
    row.stableName = m.stable;
    row.started = iso(started);
    row.ended = iso(std::time(nullptr));
    row.records = c.datano;
    row.outcome = outcomeName(outcome, m.idled);
    row.sha256 = digestOf(fd).first;
    const std::string kept =
        keepAs(fd, m.folderFd.get(), m.folder, m.tempName(), utc(started, "%Y%m%dT%H%M%SZ"),
               whole ? ".dat" : ".partial.dat");
    ::unlinkat(m.folderFd.get(), (m.tempName() + ".start").c_str(), 0);
    row.file = m.stable + "/" + kept;
    keepRaw(m, kept);
    std::int64_t repeatOf = 0;
    try {
        repeatOf = index().add(row, fdPath(fd), clock_).repeatOf;
        // Written into a file that went meanwhile is not written.
        if (indexMoved()) {
            throw RuntimeError(kErrPathFileAccess, options_.archive + "/" + kIndex +
                                                       " was removed while the download was "
                                                       "written to it");
        }
    } catch (const RuntimeError& e) {
        log("%s: %lld records in %s, not in the index yet: %s; indexed once it can be written",
            m.device.c_str(), static_cast<long long>(row.records), row.file.c_str(),
            e.description().c_str());
        reindex_.start(indexMoved() ? 0 : 10000);
        runExec(options_.archive + "/" + row.file, m.device, row.outcome, row.records);
        return;
    }
    log("%s: %lld records, %s, %s%s", m.device.c_str(), static_cast<long long>(row.records),
        row.outcome.c_str(), row.file.c_str(),
        repeatOf != 0 ? (" (the same records as download " + std::to_string(repeatOf) + ")").c_str()
                      : "");
    runExec(options_.archive + "/" + row.file, m.device, row.outcome, row.records);
    sendPending();
}

// Without unit names the bytes are the units' only record: kept beside the
// download, as `download` keeps FILE.raw.
void Station::keepRaw(Meter& m, const std::string& kept) {
    if (!m.rawFd) return;
    const int folder = m.folderFd.get();
    try {
        const std::string raw =
            keepAs(m.rawFd.get(), folder, m.folder, m.base + ".raw", kept, ".raw");
        log("%s: its bytes are kept in %s/%s", m.device.c_str(), m.stable.c_str(), raw.c_str());
    } catch (const RuntimeError& e) {
        log("%s: %s; the bytes stay in %s/%s.raw", m.device.c_str(), e.description().c_str(),
            m.folder.c_str(), m.base.c_str());
    }
    m.rawFd.reset();
}

void Station::sendPending() {
    if (site_) site_->poke();
}

void Station::finish(const std::string& key, unsigned serial) {
    auto it = meters_.find(key);
    if (it == meters_.end() || it->second->serial != serial) return;
    Meter& m = *it->second;
    m.ending = false;
    m.idle.stop();
    const TransferOutcome outcome = m.control->LastTransferOutcome();
    try {
        if (m.started) {
            file(m);
        } else {
            dropTemp(m);
        }
    } catch (const RuntimeError& e) {
        log("%s: %s; the records stay in %s", m.device.c_str(), e.description().c_str(),
            m.temp.c_str());
    }
    m.tempFd.reset();
    m.rawFd.reset();
    if (outcome == TransferOutcome::DeviceLost || stopping_) {
        if (outcome == TransferOutcome::DeviceLost) log("%s: gone", m.device.c_str());
        meters_.erase(it);
    } else {
        arm(m);
    }
    if (stopping_ && meters_.empty()) QCoreApplication::exit(0);
}

void Station::runExec(const std::string& path, const std::string& device,
                      const std::string& outcome, long long records) {
    if (!exec_) return;
    exec_->run(path, {{"VANTOR_FILE", QString::fromLocal8Bit(path.c_str())},
                      {"VANTOR_DEVICE", QString::fromLocal8Bit(device.c_str())},
                      {"VANTOR_OUTCOME", QString::fromStdString(outcome)},
                      {"VANTOR_RECORDS", QString::number(records)}});
}

void Station::stop() {
    if (stopping_) return;
    stopping_ = true;
    rescan_.stop();
    if (exec_) exec_->stop();
    log("stopping: ending %zu armed port%s, their records kept", meters_.size(),
        meters_.size() == 1 ? "" : "s");
    if (meters_.empty()) {
        QCoreApplication::exit(0);
        return;
    }
    // Only an armed port ends with a transfer's end: any other is waited on for ever.
    std::erase_if(meters_, [](const auto& m) {
        return !m.second->ending && (!m.second->control || !m.second->control->fgComPortOpen);
    });
    if (meters_.empty()) {
        QCoreApplication::exit(0);
        return;
    }
    std::vector<Vantor_Comm*> armed;
    for (auto& [real, m] : meters_) armed.push_back(m->control.get());
    for (Vantor_Comm* c : armed) c->AbortTransfer(TransferOutcome::Aborted);
}

int Station::run() {
    // Before anything else: a SIGTERM during recovery must end it cleanly too.
    SignalWatch watch(
        [this](int signal) {
            if (signal == SIGHUP) {
                rescan(true);
            } else {
                stop();
            }
        },
        true);
    if (!options_.exec.empty()) {
        exec_ = std::make_unique<ExecRunner>(ExecRunner::Setup{
            options_.exec, [](const std::string& line) { log("%s", line.c_str()); }});
    }
    recover();
    const std::string database = SiteDatabase::masked(options_.database);
    log("archive %s; index %s/index.sqlite%s%s", options_.archive.c_str(), options_.archive.c_str(),
        options_.database.empty() ? "" : "; database ", database.c_str());
    if (SiteDatabase::hasPassword(options_.database)) {
        log("warning: the password in --database's URL is visible to every user of this machine "
            "(ps); give it in ~/.pgpass, PGPASSFILE or PGPASSWORD instead");
    }
    if (!options_.database.empty()) {
        site_ = std::make_unique<SiteSender>(SiteSender::Setup{
            "sqlite:" + options_.archive + "/index.sqlite", options_.database, station_,
            options_.archive, clock_, [](const std::string& line) { log("%s", line.c_str()); }});
    }
    checkUnitFile();
    rescan(false);
    if (meters_.empty()) log("no port armed yet; waiting for one to appear");
    const int status = QCoreApplication::exec();
    if (exec_) {
        exec_->stop();
        exec_->waitEnded();
    }
    log("stopped");
    return status;
}

int stationCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Stays armed on every matching serial port and files each transfer in an archive, with "
        "an index of downloads (SQLite).");
    parser.addOptions({
        {"archive", "The archive folder: DIR/<device>/<UTC start>.dat, and DIR/index.sqlite.",
         "DIR"},
        {"device", "A device or a pattern with wildcards (repeatable); default: every serial port.",
         "GLOB"},
        {"app-path", "Folder of unit2.dat.", "DIR"},
        {"idle", "End a transfer when the meter, having begun, is silent this long.", "SECONDS"},
        {"exec",
         "Run CMD after each download (VANTOR_FILE, VANTOR_DEVICE, VANTOR_OUTCOME, "
         "VANTOR_RECORDS in its environment).",
         "CMD"},
        {"database",
         "Also put every download and its readings into this database: "
         "postgresql://user@host:port/db or sqlite:PATH.",
         "URL"},
    });
    if (auto stop = parseArguments(parser, args, 0)) return *stop;
    StationOptions options;
    options.archive = str(parser.value("archive"));
    if (options.archive.empty()) {
        std::fprintf(stderr, "--archive: give the folder the downloads go to\n");
        return kExitUsage;
    }
    for (const QString& d : parser.values("device")) options.patterns.push_back(str(d));
    if (options.patterns.empty()) options.patterns.push_back("auto");
    options.appPath = str(parser.value("app-path"));
    if (parser.isSet("idle")) {
        options.idleSeconds = numberOption(parser, "idle", 0.001, 2e6, false);
        if (!options.idleSeconds) return kExitUsage;
    }
    options.exec = str(parser.value("exec"));
    options.database = str(parser.value("database"));
    if (!options.database.empty()) {
        if (const std::string problem = SiteDatabase::urlProblem(options.database);
            !problem.empty()) {
            std::fprintf(stderr, "--database: %s\n", problem.c_str());
            return kExitUsage;
        }
    }
    if (options.database.rfind("sqlite:", 0) == 0 &&
        realPath(options.database.substr(7)) == realPath(options.archive + "/index.sqlite")) {
        std::fprintf(stderr, "--database: %s is the archive's own index already\n",
                     options.database.c_str());
        return kExitUsage;
    }
    try {
        Station station(std::move(options), qtMessageLoop());
        return station.run();
    } catch (const RuntimeError& e) {
        std::fprintf(stderr, "error %d: %s\n", e.number(), escaped(e.description()).c_str());
        return kExitFailure;
    }
}

}  // namespace vantor::cli
