#include "site_database.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vantor/data_file.h>

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

namespace vantor::station {

namespace {

constexpr int kSchemaVersion = 2;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string str(const QVariant& v) {
    return v.isNull() ? std::string() : v.toString().toStdString();
}

// A prepared statement that throws DatabaseError when it fails.
class Statement {
  public:
    Statement(QSqlDatabase db, const QString& sql, std::function<void(const QString&)> fail)
        : query_(db), fail_(std::move(fail)) {
        query_.setForwardOnly(true);
        if (!query_.prepare(sql)) fail_(query_.lastError().text());
    }
    Statement& bind(const QVariant& v) {
        query_.addBindValue(v);
        return *this;
    }
    QSqlQuery& run() {
        if (!query_.exec()) fail_(query_.lastError().text());
        return query_;
    }

  private:
    QSqlQuery query_;
    std::function<void(const QString&)> fail_;
};

// A missing file is the caller's to say, before the database is touched.
void mustExist(const std::string& dataFile) {
    try {
        DataFileReader probe(dataFile);
    } catch (const RuntimeError& e) {
        if (e.number() == kErrFileNotFound || e.number() == kErrPathNotFound) throw;
    }
}

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? buffer : path;
}

bool isPostgres(const std::string& url) {
    return url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
}

// Where a URL's password is, found by hand: a URL too broken for QUrl is
// still shown masked. npos when it has none.
std::pair<std::size_t, std::size_t> passwordIn(const std::string& url) {
    constexpr auto none = std::make_pair(std::string::npos, std::string::npos);
    if (!isPostgres(url)) return none;
    const std::size_t from = url.find("://") + 3;
    const std::size_t end = std::min(url.find_first_of("/?#", from), url.size());
    const std::size_t at = url.rfind('@', end);
    if (at == std::string::npos || at < from) return none;
    const std::size_t colon = url.find(':', from);
    if (colon == std::string::npos || colon > at) return none;
    return {colon + 1, at};
}

// A database on read-only media has no room for SQLite's shared-memory file:
// read it as a file nothing changes, unless a write-ahead log holds part of it
// (SQLite reads that read-only when it is there).
bool unchangeable(const std::string& path) {
    struct stat wal {};
    if (::stat((path + "-wal").c_str(), &wal) == 0) return false;
    const std::string folder =
        QFileInfo(QString::fromLocal8Bit(path.c_str())).absolutePath().toLocal8Bit().toStdString();
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0) return true;
    return ::access(folder.c_str(), W_OK) != 0;
}

}  // namespace

std::string SiteDatabase::masked(const std::string& url) {
    const auto [from, to] = passwordIn(url);
    if (from == std::string::npos || from == to) return url;
    return url.substr(0, from) + "***" + url.substr(to);
}

bool SiteDatabase::hasPassword(const std::string& url) {
    const auto [from, to] = passwordIn(url);
    return from != std::string::npos && from != to;
}

std::string SiteDatabase::urlProblem(const std::string& url, const std::string& ownIndex) {
    const std::string shown = "'" + masked(url) + "'";
    if (url.rfind("sqlite:", 0) == 0) {
        if (url.size() == 7) return shown + " names no file: sqlite:PATH";
        if (!ownIndex.empty() && realPath(url.substr(7)) == realPath(ownIndex))
            return url + " is the archive's own index already";
        return "";
    }
    if (!isPostgres(url)) {
        return shown + " is not postgresql://user@host:port/database or sqlite:PATH";
    }
    const QUrl u(q(url), QUrl::StrictMode);
    if (!u.isValid()) {
        return shown + " is not a URL (" + u.errorString().toStdString() +
               "): postgresql://user@host:port/database";
    }
    const QString path = u.path();
    if (path.size() < 2 || path.indexOf('/', 1) >= 0) {
        return shown + " names no database: postgresql://user@host:port/database";
    }
    if (u.hasQuery() || u.hasFragment()) {
        return shown +
               " has a ?... or #... part, which is not read: give the connection's settings "
               "in libpq's environment (PGSSLMODE, ...)";
    }
    return "";
}

SiteDatabase::SiteDatabase(const std::string& url, Access access)
    // Qt names connections: this object's address is unique while it lives.
    : connection_(QStringLiteral("vantor-site-%1").arg(reinterpret_cast<quintptr>(this))),
      readOnly_(access == Access::Read) {
    try {
        open(url);
        if (readOnly_) {
            checkSchema();
        } else {
            migrate();
        }
    } catch (...) {
        // No destructor runs: the connection goes here.
        QSqlDatabase::removeDatabase(connection_);
        throw;
    }
}

void SiteDatabase::open(const std::string& url) {
    shown_ = masked(url);
    if (const std::string problem = urlProblem(url); !problem.empty())
        throw DatabaseError(kErrBadFileNumber, problem);
    QSqlDatabase db;
    if (url.rfind("sqlite:", 0) == 0) {
        const std::string path = url.substr(7);
        name_ = url;
        db = QSqlDatabase::addDatabase("QSQLITE", connection_);
        db.setDatabaseName(q(path));
        if (readOnly_) {
            // Reading never makes one.
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) throw fileError(errno, path, true);
            if (unchangeable(path)) {
                const QUrl file = QUrl::fromLocalFile(QFileInfo(q(path)).absoluteFilePath());
                db.setDatabaseName(file.toString(QUrl::FullyEncoded) + "?immutable=1");
                db.setConnectOptions("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI");
            } else {
                db.setConnectOptions("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=10000");
            }
        } else {
            db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=10000");
        }
    } else {
        const QUrl u(q(url));
        QUrl shown = u;
        shown.setPassword({});
        name_ = shown.toString().toStdString();
        password_ = u.password().toStdString();
        postgres_ = true;
        db = QSqlDatabase::addDatabase("QPSQL", connection_);
        db.setHostName(u.host().isEmpty() ? "localhost" : u.host());
        db.setPort(u.port(5432));
        db.setDatabaseName(u.path().mid(1));
        if (!u.userName().isEmpty()) db.setUserName(u.userName());
        // Without one, libpq reads PGPASSWORD, then PGPASSFILE or ~/.pgpass.
        if (!u.password().isEmpty()) db.setPassword(u.password());
        db.setConnectOptions("connect_timeout=5");
    }
    if (!db.isValid()) {
        const std::string driver = postgres_ ? "QPSQL" : "QSQLITE";
        const std::string package = postgres_ ? "libqt6sql6-psql" : "libqt6sql6-sqlite";
        throw DatabaseError(kErrPathFileAccess, "cannot open " + shown_ + ": Qt's " + driver +
                                                    " driver is missing (install " + package + ")");
    }
    if (!db.open()) {
        if (!postgres_) fail("cannot open", db.lastError().text());
        const QSqlError e = db.lastError();
        const QString why = e.databaseText().isEmpty() ? e.text() : e.databaseText();
        throw DatabaseError(kErrPathFileAccess, "cannot connect to " + shown_ + ": " + scrub(why));
    }
    if (postgres_) {
        // Its notices ("already exists, skipping") are no news.
        run("SET client_min_messages TO WARNING");
        if (readOnly_) run("SET default_transaction_read_only = on");
    } else if (!readOnly_) {
        // A commit is on the disk before the station goes on.
        run("PRAGMA journal_mode=WAL");
        run("PRAGMA synchronous=FULL");
    }
}

bool SiteDatabase::damaged(const std::string& path) {
    const QString connection =
        QStringLiteral("vantor-check-%1").arg(reinterpret_cast<quintptr>(&path));
    bool bad = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connection);
        db.setDatabaseName(q(path));
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        if (db.open()) {
            QSqlQuery check(db);
            if (check.exec("PRAGMA quick_check")) {
                bad = !check.next() || check.value(0).toString() != "ok";
            } else {
                // SQLITE_CORRUPT and SQLITE_NOTADB, with their extended codes.
                const int code = check.lastError().nativeErrorCode().toInt() & 0xff;
                bad = code == 11 || code == 26;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return bad;
}

SiteDatabase::~SiteDatabase() {
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

void SiteDatabase::fail(const std::string& what, const QString& why) {
    // The server's text comes in lines: one log line is one event.
    throw DatabaseError(kErrPathFileAccess, standardDescription(kErrPathFileAccess) + ": " + what +
                                                " " + shown_ + " (" + scrub(why) + ")");
}

std::string SiteDatabase::scrub(const QString& why) const {
    std::string text = why.simplified().toStdString();
    // A server may quote what it was given.
    for (std::size_t at; password_.size() >= 4 && (at = text.find(password_)) != text.npos;)
        text.replace(at, password_.size(), "***");
    return text;
}

void SiteDatabase::run(const QString& sql) {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec(sql)) fail("a statement failed in", query.lastError().text());
}

void SiteDatabase::migrate() {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    auto failing = [this](const QString& why) { fail("cannot set up the schema of", why); };
    if (!db.transaction()) failing(db.lastError().text());
    try {
        if (postgres_) {
            // Stations starting at once set the schema up one after the other
            // (the key is this program's own: "vcom").
            run("SELECT pg_advisory_xact_lock(1986227053)");
        }
        run("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
        Statement vStatement(db, "SELECT max(version) FROM schema_version", failing);
        QSqlQuery& v = vStatement.run();
        int version = v.next() && !v.value(0).isNull() ? v.value(0).toInt() : 0;
        v.finish();
        if (version > kSchemaVersion) {
            throw DatabaseError(kErrPathFileAccess,
                                shown_ + " has schema version " + std::to_string(version) +
                                    ", newer than this program's (" +
                                    std::to_string(kSchemaVersion) + "): update vantor-comm");
        }
        const bool oldIndex = !postgres_ && db.tables().contains("downloads");
        if (version == 0 && oldIndex) version = 1;  // an index of the first station
        if (version == 0) {
            const QString id = postgres_ ? "BIGSERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY";
            run("CREATE TABLE downloads (id " + id +
                ", device TEXT NOT NULL, stable_name TEXT NOT NULL,"
                " started TEXT NOT NULL, ended TEXT NOT NULL, records BIGINT NOT NULL,"
                " outcome TEXT NOT NULL, file TEXT NOT NULL, sha256 TEXT NOT NULL,"
                " repeat_of BIGINT REFERENCES downloads(id), station TEXT NOT NULL DEFAULT '')");
        } else if (version == 1) {
            run("ALTER TABLE downloads ADD COLUMN station TEXT NOT NULL DEFAULT ''");
        }
        if (version < 2) {
            run("CREATE UNIQUE INDEX downloads_station_file ON downloads (station, file)");
            run("CREATE INDEX IF NOT EXISTS downloads_sha256 ON downloads (sha256)");
            run("CREATE TABLE readings (download BIGINT NOT NULL REFERENCES downloads(id),"
                " n BIGINT NOT NULL, record TEXT NOT NULL, time TEXT, epoch BIGINT, stamp TEXT,"
                " channel INTEGER NOT NULL, value DOUBLE PRECISION, value_text TEXT,"
                " unit TEXT NOT NULL, status TEXT NOT NULL, PRIMARY KEY (download, n))");
            run("CREATE INDEX readings_epoch ON readings (epoch)");
            run("CREATE TABLE memories (sha256 TEXT PRIMARY KEY,"
                " download BIGINT NOT NULL REFERENCES downloads(id))");
            run("INSERT INTO memories (sha256, download) SELECT sha256, min(id) FROM downloads"
                " WHERE records > 0 AND repeat_of IS NULL GROUP BY sha256");
            run("CREATE TABLE sent (download BIGINT NOT NULL REFERENCES downloads(id),"
                " target TEXT NOT NULL, PRIMARY KEY (download, target))");
            run("DELETE FROM schema_version");
            run(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)")
                    .arg(kSchemaVersion));
        }
        if (!db.commit()) failing(db.lastError().text());
    } catch (...) {
        db.rollback();
        throw;
    }
}

void SiteDatabase::checkSchema() {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const QStringList tables = db.tables();
    if (!tables.contains("schema_version") && !tables.contains("downloads")) {
        if (db.lastError().isValid()) fail("cannot read", db.lastError().text());
        throw DatabaseError(kErrPathFileAccess,
                            shown_ + " is no station's database (it has no table of downloads)");
    }
    int version = 1;  // the first station's index had none
    if (tables.contains("schema_version")) {
        Statement v(db, "SELECT max(version) FROM schema_version",
                    [this](const QString& why) { fail("cannot read", why); });
        QSqlQuery& row = v.run();
        version = row.next() && !row.value(0).isNull() ? row.value(0).toInt() : 0;
    }
    if (version > kSchemaVersion) {
        throw DatabaseError(kErrPathFileAccess,
                            shown_ + " has schema version " + std::to_string(version) +
                                ", newer than this program's (" + std::to_string(kSchemaVersion) +
                                "): update vantor-comm");
    }
    if (version < kSchemaVersion) {
        throw DatabaseError(kErrPathFileAccess,
                            shown_ + " has schema version " + std::to_string(version) +
                                ", older than this program's (" + std::to_string(kSchemaVersion) +
                                ") and is only read: start a station with it once (vantor-comm "
                                "station --database URL, or --archive for an index), which "
                                "updates it");
    }
}

void SiteDatabase::insertReadings(std::int64_t id, const std::string& dataFile,
                                  const ExportOptions& clock) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    auto failing = [this](const QString& why) { fail("cannot write to", why); };
    Statement insert(db,
                     "INSERT INTO readings (download, n, record, time, epoch, stamp,"
                     " channel, value, value_text, unit, status)"
                     " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                     failing);
    std::int64_t n = 0;
    const auto take = [&](const ReadingRow& r) {
        double value = 0;
        const bool number =
            !r.value.empty() &&
            std::from_chars(r.value.data(), r.value.data() + r.value.size(), value).ec ==
                std::errc();
        insert.bind(QVariant::fromValue<qlonglong>(id))
            .bind(QVariant::fromValue<qlonglong>(++n))
            .bind(q(r.record))
            .bind(r.time.empty() ? QVariant(QMetaType::fromType<QString>()) : q(r.time))
            .bind(r.epochSeconds ? QVariant::fromValue<qlonglong>(*r.epochSeconds)
                                 : QVariant(QMetaType::fromType<qlonglong>()))
            .bind(r.stamp.empty() ? QVariant(QMetaType::fromType<QString>()) : q(r.stamp))
            .bind(static_cast<int>(r.channel))
            .bind(number ? QVariant(value) : QVariant(QMetaType::fromType<double>()))
            .bind(r.value.empty() ? QVariant(QMetaType::fromType<QString>()) : q(r.value))
            .bind(q(r.unit))
            .bind(q(r.status))
            .run();
    };
    try {
        vantor::eachReading(dataFile, clock, take);
    } catch (const DatabaseError&) {
        throw;
    } catch (const RuntimeError& e) {
        // A damaged file keeps the readings before the damage.
        if (e.number() == kErrFileNotFound || e.number() == kErrPathNotFound) throw;
    }
}

SiteDatabase::Added SiteDatabase::add(const Download& d, const std::string& dataFile,
                                      const ExportOptions& clock) {
    mustExist(dataFile);
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    auto failing = [this](const QString& why) { fail("cannot write to", why); };
    if (!db.transaction()) failing(db.lastError().text());
    try {
        Added added;
        Statement insertedStatement(
            db,
            "INSERT INTO downloads (station, device, stable_name, started, ended,"
            " records, outcome, file, sha256) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"
            " ON CONFLICT (station, file) DO NOTHING RETURNING id",
            failing);
        QSqlQuery& inserted = insertedStatement.bind(q(d.station))
                                  .bind(q(d.device))
                                  .bind(q(d.stableName))
                                  .bind(q(d.started))
                                  .bind(q(d.ended))
                                  .bind(QVariant::fromValue<qlonglong>(d.records))
                                  .bind(q(d.outcome))
                                  .bind(q(d.file))
                                  .bind(q(d.sha256))
                                  .run();
        if (inserted.next()) {
            added.id = inserted.value(0).toLongLong();
            inserted.finish();
        } else {
            inserted.finish();
            Statement thereStatement(db,
                                     "SELECT id, repeat_of FROM downloads WHERE station = ?"
                                     " AND file = ?",
                                     failing);
            QSqlQuery& there = thereStatement.bind(q(d.station)).bind(q(d.file)).run();
            if (!there.next()) failing("the download vanished while it was written");
            added.id = there.value(0).toLongLong();
            added.repeatOf = there.value(1).toLongLong();
            added.already = true;
            there.finish();
        }
        if (!added.already && d.records > 0) {
            // Whoever commits first keeps the records; the others wait here.
            Statement(db,
                      "INSERT INTO memories (sha256, download) VALUES (?, ?)"
                      " ON CONFLICT (sha256) DO NOTHING",
                      failing)
                .bind(q(d.sha256))
                .bind(QVariant::fromValue<qlonglong>(added.id))
                .run();
            Statement firstStatement(db, "SELECT download FROM memories WHERE sha256 = ?", failing);
            QSqlQuery& first = firstStatement.bind(q(d.sha256)).run();
            const std::int64_t firstId = first.next() ? first.value(0).toLongLong() : 0;
            first.finish();
            if (firstId != 0 && firstId != added.id) {
                added.repeatOf = firstId;
                Statement(db, "UPDATE downloads SET repeat_of = ? WHERE id = ?", failing)
                    .bind(QVariant::fromValue<qlonglong>(added.repeatOf))
                    .bind(QVariant::fromValue<qlonglong>(added.id))
                    .run();
            }
        }
        if (!added.already && added.repeatOf == 0) insertReadings(added.id, dataFile, clock);
        if (!db.commit()) failing(db.lastError().text());
        return added;
    } catch (...) {
        db.rollback();
        throw;
    }
}

bool SiteDatabase::has(const std::string& station, const std::string& file) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    auto failing = [this](const QString& why) { fail("cannot read", why); };
    Statement query(db, "SELECT 1 FROM downloads WHERE station = ? AND file = ?", failing);
    return query.bind(q(station)).bind(q(file)).run().next();
}

std::vector<std::int64_t> SiteDatabase::ids(const QString& sql, const std::string& bound) {
    auto failing = [this](const QString& why) { fail("cannot read", why); };
    Statement statement(QSqlDatabase::database(connection_, false), sql, failing);
    if (!bound.empty()) statement.bind(q(bound));
    QSqlQuery& query = statement.run();
    std::vector<std::int64_t> found;
    while (query.next()) found.push_back(query.value(0).toLongLong());
    return found;
}

std::vector<std::int64_t> SiteDatabase::withoutReadings() {
    return ids(
        "SELECT id FROM downloads d WHERE records > 0 AND repeat_of IS NULL"
        " AND NOT EXISTS (SELECT 1 FROM readings r WHERE r.download = d.id) ORDER BY id");
}

void SiteDatabase::addReadings(std::int64_t id, const std::string& dataFile,
                               const ExportOptions& clock) {
    mustExist(dataFile);
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.transaction()) fail("cannot write to", db.lastError().text());
    try {
        insertReadings(id, dataFile, clock);
        if (!db.commit()) fail("cannot write to", db.lastError().text());
    } catch (...) {
        db.rollback();
        throw;
    }
}

std::vector<std::int64_t> SiteDatabase::notSentTo(const std::string& target) {
    return ids(
        "SELECT id FROM downloads WHERE id NOT IN"
        " (SELECT download FROM sent WHERE target = ?) ORDER BY id",
        target);
}

SiteDatabase::Download SiteDatabase::download(std::int64_t id) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    auto failing = [this](const QString& why) { fail("cannot read", why); };
    Statement queryStatement(db,
                             "SELECT station, device, stable_name, started, ended, records,"
                             " outcome, file, sha256 FROM downloads WHERE id = ?",
                             failing);
    QSqlQuery& query = queryStatement.bind(QVariant::fromValue<qlonglong>(id)).run();
    if (!query.next()) failing(QStringLiteral("no download %1").arg(id));
    Download d;
    d.station = str(query.value(0));
    d.device = str(query.value(1));
    d.stableName = str(query.value(2));
    d.started = str(query.value(3));
    d.ended = str(query.value(4));
    d.records = query.value(5).toLongLong();
    d.outcome = str(query.value(6));
    d.file = str(query.value(7));
    d.sha256 = str(query.value(8));
    return d;
}

void SiteDatabase::sentTo(std::int64_t id, const std::string& target) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    auto failing = [this](const QString& why) { fail("cannot write to", why); };
    Statement(db, "INSERT INTO sent (download, target) VALUES (?, ?) ON CONFLICT DO NOTHING",
              failing)
        .bind(QVariant::fromValue<qlonglong>(id))
        .bind(q(target))
        .run();
}

std::int64_t SiteDatabase::eachReading(const Filter& filter,
                                       const std::function<void(const ReadingRow&)>& take) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    auto failing = [this](const QString& why) { fail("cannot read", why); };
    QString sql =
        "SELECT r.record, r.time, r.stamp, r.channel, r.value_text, r.unit, r.status, r.epoch"
        " FROM readings r JOIN downloads d ON d.id = r.download WHERE 1 = 1";
    if (filter.since) sql += " AND r.epoch >= ?";
    if (filter.until) sql += " AND r.epoch < ?";
    if (!filter.device.empty()) sql += " AND (d.stable_name = ? OR d.device = ?)";
    sql += " ORDER BY d.started, d.id, r.n";
    Statement query(db, sql, failing);
    if (filter.since) query.bind(QVariant::fromValue<qlonglong>(*filter.since));
    if (filter.until) query.bind(QVariant::fromValue<qlonglong>(*filter.until));
    if (!filter.device.empty()) query.bind(q(filter.device)).bind(q(filter.device));
    QSqlQuery& rows = query.run();
    std::int64_t n = 0;
    ReadingRow row;
    while (rows.next()) {
        row.record = str(rows.value(0));
        row.time = str(rows.value(1));
        row.stamp = str(rows.value(2));
        row.channel = static_cast<Integer>(rows.value(3).toInt());
        row.value = str(rows.value(4));
        row.unit = str(rows.value(5));
        row.status = str(rows.value(6));
        row.epochSeconds.reset();
        if (!rows.value(7).isNull()) row.epochSeconds = rows.value(7).toLongLong();
        take(row);
        ++n;
    }
    if (rows.lastError().isValid()) failing(rows.lastError().text());
    return n;
}

std::int64_t SiteDatabase::downloadsOf(const std::string& device) {
    Statement query(QSqlDatabase::database(connection_, false),
                    "SELECT count(*) FROM downloads WHERE stable_name = ? OR device = ?",
                    [this](const QString& why) { fail("cannot read", why); });
    QSqlQuery& rows = query.bind(q(device)).bind(q(device)).run();
    return rows.next() ? rows.value(0).toLongLong() : 0;
}

}  // namespace vantor::station
