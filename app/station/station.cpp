#include "station.h"

#include <fcntl.h>
#include <unistd.h>
#include <vantor/download.h>
#include <vantor/port_list.h>
#include <vantor/qt_platform.h>
#include <vantor/status_panel.h>

#include <QCoreApplication>
#include <QSysInfo>
#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <utility>

namespace vantor::station {

namespace {

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
    : options_(std::move(options)),
      archive_(options_.archive),
      loop_(std::move(loop)),
      ports_({options_.patterns,
              [this](const std::string& real) { return meters_.count(real) != 0; },
              [this](const std::string& device, const std::string& real) {
                  auto meter = std::make_unique<Meter>();
                  meter->key = real;
                  meter->serial = ++serial_;
                  meter->device = device;
                  meter->stable = stableName(device);
                  meter->folder = options_.archive + "/" + meter->stable;
                  Meter& m = *meter;
                  meters_.emplace(real, std::move(meter));
                  arm(m);
              }}) {
    openIndex();
    station_ = QSysInfo::machineHostName().toStdString() + ":" + realPath(options_.archive);
    reindex_.setSingleShot(true);
    QObject::connect(&reindex_, &QTimer::timeout, [this] { recover(); });
}

Station::~Station() {
    meters_.clear();
    index_.reset();
}

void Station::say(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    options_.log(text);
}

void Station::openIndex() {
    index_.reset();
    std::string aside, why;
    index_ = archive_.openIndex(aside, why);
    if (!aside.empty()) {
        say("%s is damaged (%s): set aside as %s/%s; a new index is made from the archive",
            archive_.indexPath().c_str(), why.c_str(), options_.archive.c_str(), aside.c_str());
    }
}

SiteDatabase& Station::index() {
    if (index_ && !archive_.indexMoved()) return *index_;
    if (index_) {
        say("%s/%s was removed or replaced while the station ran; a new index is made from the "
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
    say("no unit file (%s): unit names are written as ten NUL characters, and each download's "
        "bytes are kept beside it as FILE.raw; 'vantor-comm decode FILE.raw --app-path %s "
        "--data-file FILE' writes it again with names; put unit2.dat in %s%s and restart the "
        "station",
        why.c_str(), dir.c_str(), dir.c_str(),
        options_.appPath.empty() ? ", give --app-path DIR" : "");
}

void Station::recover() {
    const Recovery r =
        archive_.recover([this]() -> SiteDatabase& { return index(); }, clock_,
                         [this](const std::string& stable, const std::string& base) {
                             return std::any_of(meters_.begin(), meters_.end(), [&](const auto& m) {
                                 return m.second->stable == stable && m.second->base == base;
                             });
                         });
    for (const Found& f : r.found) {
        switch (f.kind) {
            case Found::Kept:
                say("kept %s, cut short when the station was killed", f.file.c_str());
                break;
            case Found::Indexed:
                say("indexed %s", f.file.c_str());
                break;
            case Found::LinkFolder:
                say("%s is a symbolic link: left alone", f.file.c_str());
                break;
            case Found::NotAFile:
                say("%s is a symbolic link or not a file: left alone", f.file.c_str());
                break;
            case Found::Failed:
                say("%s: %s", f.file.c_str(), f.why.c_str());
                break;
            case Found::NoReadings:
                say("%s: no readings indexed: %s", f.file.c_str(), f.why.c_str());
                break;
            case Found::IndexFailed:
                say("%s", f.why.c_str());
                break;
        }
    }
    if (r.stillOut) reindex_.start(10000);
}

void Station::rescan(bool said) {
    if (stopping_) return;
    if (said) say("reading the device list again");
    ports_.scan();
}

void Station::makeControl(Meter& m) {
    ControlOptions parts;
    parts.loop = loop_;
    parts.messages = std::make_shared<LogSink>([this, &m](const std::string& text) {
        // A port that cannot be armed is said once, by arm().
        if (m.arming) {
            m.said.push_back(text);
        } else {
            say("%s: %s", m.device.c_str(), m.named(text).c_str());
        }
    });
    parts.serial = qtSerialBackend();
    m.control = createControl(std::move(parts));
    if (options_.idleSeconds) {
        m.control->setIdleTimeout(
            std::chrono::milliseconds(static_cast<long long>(*options_.idleSeconds * 1000)));
    }
    m.control->Ports().set(1, m.device);
    m.control->Port(1);
    if (unitFile_) {
        try {
            m.control->AppPath(options_.appPath);
            m.control->ReadUnitFile();
            m.units = true;
        } catch (const RuntimeError& e) {
            say("%s: no unit names (%s): each download's bytes are kept beside it",
                m.device.c_str(), e.description().c_str());
        }
    }
    m.control->onBytesRead = [this, &m](std::string_view bytes) {
        if (!m.started) {
            m.started = std::time(nullptr);
            markStart(m.folderFd.get(), m.tempName(), *m.started);
            say("%s: receiving", m.device.c_str());
        }
        if (m.rawFd) {
            // The bytes are all a download without unit names has of them.
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n = ::write(m.rawFd.get(), bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    const RuntimeError e =
                        fileError(n < 0 ? errno : ENOSPC, m.folder + "/" + m.base + ".raw", false);
                    say("%s: %s; the bytes are not all kept", m.device.c_str(),
                        e.description().c_str());
                    m.rawFd.reset();
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
        }
    };
    m.control->onTransferEnded = [this, &m] {
        m.ending = true;
        // Not from inside the control's own event: it may go.
        loop_->post([this, key = m.key, serial = m.serial] { finish(key, serial); });
    };
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
        if (!m.folderFd) m.folderFd = folderIn(archive_.fd(), m.stable, m.folder);
        newTemp(m);
        m.started.reset();
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
        if (ports_.refused(key, e.description()))
            say("%s: not armed: %s", m.device.c_str(), e.description().c_str());
        dropTemp(m);
        // No empty folder stays for a port that never was one.
        if (m.folderFd) ::unlinkat(archive_.fd(), m.stable.c_str(), AT_REMOVEDIR);
        meters_.erase(key);
        return;
    }
    for (const std::string& text : m.said) say("%s: %s", m.device.c_str(), m.named(text).c_str());
    m.said.clear();
    ports_.armed(m.key);
    say("%s: armed, into %s", m.device.c_str(), m.folder.c_str());
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
    // The station's own word for its stop; the control's for the rest.
    row.outcome = outcome == TransferOutcome::Aborted ? "station stopped" : outcomeName(outcome);
    row.sha256 = digestOf(fd).sha256;
    const std::string kept = keepAs(fd, m.folderFd.get(), m.folder, m.tempName(),
                                    startName(started), whole ? ".dat" : ".partial.dat");
    ::unlinkat(m.folderFd.get(), (m.tempName() + ".start").c_str(), 0);
    row.file = m.stable + "/" + kept;
    keepRaw(m, kept);
    std::int64_t repeatOf = 0;
    try {
        repeatOf = index().add(row, fdPath(fd), clock_).repeatOf;
        // Written into a file that went meanwhile is not written.
        if (archive_.indexMoved()) {
            throw RuntimeError(kErrPathFileAccess, archive_.indexPath() +
                                                       " was removed while the download was "
                                                       "written to it");
        }
    } catch (const RuntimeError& e) {
        say("%s: %lld records in %s, not in the index yet: %s; indexed once it can be written",
            m.device.c_str(), static_cast<long long>(row.records), row.file.c_str(),
            e.description().c_str());
        reindex_.start(archive_.indexMoved() ? 0 : 10000);
        runExec(options_.archive + "/" + row.file, m.device, row.outcome, row.records);
        return;
    }
    say("%s: %lld records, %s, %s%s", m.device.c_str(), static_cast<long long>(row.records),
        row.outcome.c_str(), row.file.c_str(),
        repeatOf != 0 ? (" (the same records as download " + std::to_string(repeatOf) + ")").c_str()
                      : "");
    runExec(options_.archive + "/" + row.file, m.device, row.outcome, row.records);
    if (site_) site_->poke();
}

// Without unit names the bytes are the units' only record: kept beside the
// download, as `download` keeps FILE.raw.
void Station::keepRaw(Meter& m, const std::string& kept) {
    if (!m.rawFd) return;
    const int folder = m.folderFd.get();
    try {
        const std::string raw =
            keepAs(m.rawFd.get(), folder, m.folder, m.base + ".raw", kept, ".raw");
        say("%s: its bytes are kept in %s/%s", m.device.c_str(), m.stable.c_str(), raw.c_str());
    } catch (const RuntimeError& e) {
        say("%s: %s; the bytes stay in %s/%s.raw", m.device.c_str(), e.description().c_str(),
            m.folder.c_str(), m.base.c_str());
    }
    m.rawFd.reset();
}

void Station::finish(const std::string& key, unsigned serial) {
    auto it = meters_.find(key);
    if (it == meters_.end() || it->second->serial != serial) return;
    Meter& m = *it->second;
    m.ending = false;
    const TransferOutcome outcome = m.control->LastTransferOutcome();
    try {
        if (m.started) {
            file(m);
        } else {
            dropTemp(m);
        }
    } catch (const RuntimeError& e) {
        say("%s: %s; the records stay in %s", m.device.c_str(), e.description().c_str(),
            m.temp.c_str());
    }
    m.tempFd.reset();
    m.rawFd.reset();
    if (outcome == TransferOutcome::DeviceLost || stopping_) {
        if (outcome == TransferOutcome::DeviceLost) say("%s: gone", m.device.c_str());
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
    ports_.stop();
    if (exec_) exec_->stop();
    say("stopping: ending %zu armed port%s, their records kept", meters_.size(),
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
    if (!options_.exec.empty()) {
        exec_ = std::make_unique<ExecRunner>(ExecRunner::Setup{options_.exec, options_.log});
    }
    recover();
    const std::string database = SiteDatabase::masked(options_.database);
    say("archive %s; index %s/index.sqlite%s%s", options_.archive.c_str(), options_.archive.c_str(),
        options_.database.empty() ? "" : "; database ", database.c_str());
    if (SiteDatabase::hasPassword(options_.database)) {
        say("warning: the password in --database's URL is visible to every user of this machine "
            "(ps); give it in ~/.pgpass, PGPASSFILE or PGPASSWORD instead");
    }
    if (!options_.database.empty()) {
        site_ = std::make_unique<SiteSender>(
            SiteSender::Setup{"sqlite:" + options_.archive + "/index.sqlite", options_.database,
                              station_, options_.archive, clock_, options_.log});
    }
    checkUnitFile();
    rescan(false);
    if (meters_.empty()) say("no port armed yet; waiting for one to appear");
    const int status = QCoreApplication::exec();
    if (exec_) {
        exec_->stop();
        exec_->waitEnded();
    }
    say("stopped");
    return status;
}

}  // namespace vantor::station
