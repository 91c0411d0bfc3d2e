#include "station.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/port_list.h>
#include <vantor/qt_platform.h>
#include <vantor/status_panel.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <set>

#include "arguments.h"
#include "exit_status.h"
#include "port_search.h"
#include "signal_watch.h"

namespace vantor::cli {

namespace {

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

// One line per event, with the time: journald keeps it.
__attribute__((format(printf, 1, 2))) void log(const char* format, ...) {
    // The site's sender logs from its own thread.
    ::flockfile(stderr);
    std::fprintf(stderr, "%s station: ", iso(std::time(nullptr)).c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
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

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Gives `from` the name `base` + `ending` in `folder`, or base-1..., never
// one already there; returns the name taken (relative to the folder).
std::string keepAs(const std::string& from, const std::string& folder, const std::string& base,
                   const std::string& ending) {
    for (int n = 0; n < 10000; ++n) {
        const std::string name = base + (n == 0 ? "" : "-" + std::to_string(n)) + ending;
        if (::link(from.c_str(), (folder + "/" + name).c_str()) == 0) {
            ::unlink(from.c_str());
            syncFolder(folder);
            return name;
        }
        if (errno != EEXIST) break;
    }
    throw fileError(errno, folder + "/" + base + ending, false);
}

// When a transfer began, beside its temporary file: a station killed during
// it cannot say so afterwards, and the file is named by its start.
void markStart(const std::string& temp, std::time_t started) {
    const std::string mark = temp + ".start";
    const int fd =
        ::open(mark.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return;  // the name falls back to the file's last write
    const std::string text = std::to_string(static_cast<long long>(started)) + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written) ::unlink(mark.c_str());
}

std::optional<std::time_t> startMark(const std::string& temp) {
    QFile f(QString::fromLocal8Bit((temp + ".start").c_str()));
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    bool ok = false;
    const long long t = f.readLine(32).trimmed().toLongLong(&ok);
    if (!ok) return std::nullopt;
    return static_cast<std::time_t>(t);
}

std::string sha256Of(const std::string& path) {
    QFile f(QString::fromLocal8Bit(path.c_str()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (f.open(QIODevice::ReadOnly)) hash.addData(&f);
    return hash.result().toHex().toStdString();
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

// The control's message boxes, as log lines naming the device.
class LogSink : public MessageSink {
  public:
    explicit LogSink(std::string device) : device_(std::move(device)) {}
    void show(const std::string& text) override {
        if (text != "Data Received O.K!") log("%s: %s", device_.c_str(), text.c_str());
    }

  private:
    std::string device_;
};

}  // namespace

struct Station::Meter {
    std::string device;
    std::string stable;
    std::string folder;
    std::unique_ptr<Vantor_Comm> control;
    std::string temp;
    std::optional<std::time_t> started;
    QTimer idle;
    bool idled = false;
};

Station::Station(StationOptions options, std::shared_ptr<MessageLoop> loop)
    : options_(std::move(options)), loop_(std::move(loop)), index_([&] {
          ::mkdir(options_.archive.c_str(), 0777);
          // One station per archive: another would take this one's transfers
          // for a killed station's.
          const std::string lock = options_.archive + "/.station.lock";
          lock_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
          if (lock_ < 0) throw fileError(errno, lock, false);
          if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
              throw RuntimeError(kErrPermissionDenied,
                                 standardDescription(kErrPermissionDenied) + ": " +
                                     options_.archive +
                                     " is the archive of another running station; give each "
                                     "station its own");
          }
          return "sqlite:" + options_.archive + "/index.sqlite";
      }()) {
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
    if (lock_ >= 0) ::close(lock_);
}

void Station::recover() {
    // Transfers a killed station left under their temporary names, and files
    // whose index row could not be written (a full disk, say).
    bool stillOut = false;
    std::vector<std::string> folders;
    if (DIR* top = ::opendir(options_.archive.c_str())) {
        while (const dirent* d = ::readdir(top)) {
            if (d->d_name[0] != '.') folders.push_back(d->d_name);
        }
        ::closedir(top);
    }
    std::sort(folders.begin(), folders.end());
    for (const std::string& stable : folders) {
        const std::string folder = options_.archive + "/" + stable;
        DIR* inner = ::opendir(folder.c_str());
        if (inner == nullptr) continue;
        std::vector<std::string> names;
        while (const dirent* f = ::readdir(inner)) names.push_back(f->d_name);
        ::closedir(inner);
        std::sort(names.begin(), names.end());
        for (std::string name : names) {
            if (name.rfind(".incoming-", 0) == 0 && name.size() > 6 &&
                name.compare(name.size() - 6, 6, ".start") == 0) {
                // A start mark goes with its transfer's file, or alone when that is gone.
                const std::string of = folder + "/" + name.substr(0, name.size() - 6);
                struct stat st {};
                if (::stat(of.c_str(), &st) != 0) ::unlink((folder + "/" + name).c_str());
                continue;
            }
            const bool left = name.rfind(".incoming-", 0) == 0;
            const bool filed = !left && name[0] != '.' && name.size() > 4 &&
                               name.compare(name.size() - 4, 4, ".dat") == 0;
            if (!left && !filed) continue;
            // Not a temporary file of a transfer running in this station.
            if (left && std::any_of(meters_.begin(), meters_.end(), [&](const auto& m) {
                    return m.second->temp == folder + "/" + name;
                })) {
                continue;
            }
            std::string path = folder + "/" + name;
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            try {
                if (filed && index_.has("", stable + "/" + name)) continue;
                if (left && st.st_size == 0) {
                    ::unlink(path.c_str());
                    ::unlink((path + ".start").c_str());
                    continue;
                }
                SiteDatabase::Download row;
                row.device = "(unknown)";
                row.stableName = stable;
                row.started = row.ended = iso(st.st_mtime);
                if (left) {
                    row.outcome = "cut short (the station was killed)";
                    const std::time_t started = startMark(path).value_or(st.st_mtime);
                    row.started = iso(started);
                    name = keepAs(path, folder, utc(started, "%Y%m%dT%H%M%SZ"), ".partial.dat");
                    ::unlink((path + ".start").c_str());
                    path = folder + "/" + name;
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
                row.sha256 = sha256Of(path);
                QFile counted(QString::fromLocal8Bit(path.c_str()));
                if (counted.open(QIODevice::ReadOnly)) row.records = counted.readAll().count('\n');
                row.file = stable + "/" + name;
                index_.add(row, path, clock_);
                log(left ? "kept %s, cut short when the station was killed" : "indexed %s",
                    row.file.c_str());
            } catch (const RuntimeError& e) {
                stillOut = true;
                log("%s: %s", path.c_str(), e.description().c_str());
            }
        }
    }
    // Downloads indexed before the index kept readings.
    try {
        for (std::int64_t id : index_.withoutReadings()) {
            const SiteDatabase::Download d = index_.download(id);
            try {
                index_.addReadings(id, options_.archive + "/" + d.file, clock_);
            } catch (const DatabaseError&) {
                throw;
            } catch (const RuntimeError& e) {
                log("%s: no readings indexed: %s", d.file.c_str(), e.description().c_str());
            }
        }
    } catch (const RuntimeError& e) {
        stillOut = true;
        log("%s", e.description().c_str());
    }
    if (stillOut) reindex_.start(10000);
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

void Station::arm(Meter& m) {
    const std::string real = realPath(m.device);
    try {
        if (!m.control) {
            ControlOptions parts;
            parts.loop = loop_;
            parts.messages = std::make_shared<LogSink>(m.device);
            parts.serial = qtSerialBackend();
            m.control = createControl(std::move(parts));
            m.control->Ports().set(1, m.device);
            m.control->Port(1);
            if (!options_.appPath.empty()) {
                m.control->AppPath(options_.appPath);
                m.control->ReadUnitFile();
            }
            m.control->onBytesRead = [this, &m](std::string_view) {
                if (!m.started) {
                    m.started = std::time(nullptr);
                    markStart(m.temp, *m.started);
                    log("%s: receiving", m.device.c_str());
                }
                if (options_.idleSeconds)
                    m.idle.start(static_cast<int>(*options_.idleSeconds * 1000));
            };
            m.control->onTransferEnded = [this, real] {
                // Not from inside the control's own event: it may go.
                loop_->post([this, real] { finish(real); });
            };
            m.idle.setSingleShot(true);
            QObject::connect(&m.idle, &QTimer::timeout, [&m] {
                m.idled = true;
                m.control->AbortTransfer(TransferOutcome::TimedOut);
            });
        }
        ::mkdir(m.folder.c_str(), 0777);
        m.temp = m.folder + "/.incoming-" + std::to_string(::getpid()) + "-" +
                 std::to_string(++counter_) + ".dat";
        m.started.reset();
        m.idled = false;
        m.control->df = m.temp;
        m.control->Start();
        // Nobody sees the panel blink: an armed port must cost no wakeups.
        m.control->Panel().Timer1.setEnabled(false);
        if (!m.control->fgComPortOpen) {
            const auto& e = m.control->LastError();
            throw RuntimeError(e ? e->number() : kErrPathFileAccess,
                               e ? e->description() : "the port could not be opened");
        }
    } catch (const RuntimeError& e) {
        // Said once; tried again at every scan.
        if (refused_[real] != e.description())
            log("%s: not armed: %s", m.device.c_str(), e.description().c_str());
        refused_[real] = e.description();
        ::unlink(m.temp.c_str());
        meters_.erase(real);
        return;
    }
    refused_.erase(real);
    log("%s: armed, into %s", m.device.c_str(), m.folder.c_str());
}

void Station::file(Meter& m) {
    Vantor_Comm& c = *m.control;
    const TransferOutcome outcome = c.LastTransferOutcome();
    const bool whole = outcome == TransferOutcome::EndMarker;
    const std::time_t started = *m.started;
    SiteDatabase::Download row;
    row.device = m.device;
    row.stableName = m.stable;
    row.started = iso(started);
    row.ended = iso(std::time(nullptr));
    row.records = c.datano;
    row.outcome = outcomeName(outcome, m.idled);
    row.sha256 = sha256Of(m.temp);
    const std::string kept =
        keepAs(m.temp, m.folder, utc(started, "%Y%m%dT%H%M%SZ"), whole ? ".dat" : ".partial.dat");
    ::unlink((m.temp + ".start").c_str());
    row.file = m.stable + "/" + kept;
    std::int64_t repeatOf = 0;
    try {
        repeatOf = index_.add(row, options_.archive + "/" + row.file, clock_).repeatOf;
    } catch (const RuntimeError& e) {
        log("%s: %lld records in %s, not in the index yet: %s; indexed once it can be written",
            m.device.c_str(), static_cast<long long>(row.records), row.file.c_str(),
            e.description().c_str());
        reindex_.start(10000);
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

void Station::sendPending() {
    if (site_) site_->poke();
}

void Station::finish(const std::string& real) {
    auto it = meters_.find(real);
    if (it == meters_.end()) return;
    Meter& m = *it->second;
    m.idle.stop();
    const TransferOutcome outcome = m.control->LastTransferOutcome();
    try {
        if (m.started) {
            file(m);
        } else {
            ::unlink(m.temp.c_str());
        }
    } catch (const RuntimeError& e) {
        log("%s: %s; the records stay in %s", m.device.c_str(), e.description().c_str(),
            m.temp.c_str());
    }
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
        std::fprintf(stderr, "error %d: %s\n", e.number(), e.description().c_str());
        return kExitFailure;
    }
}

}  // namespace vantor::cli
