#include "archive_index.h"

#include <sqlite3.h>
#include <vantor/errors.h>

namespace vantor::cli {

namespace {

// Binds texts and numbers in order, runs the statement and finalizes it.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK) s_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(s_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return s_ != nullptr; }
    void bind(int i, const std::string& text) {
        sqlite3_bind_text(s_, i, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, std::int64_t n) { sqlite3_bind_int64(s_, i, n); }
    int step() { return sqlite3_step(s_); }
    std::int64_t column(int i) { return sqlite3_column_int64(s_, i); }

  private:
    sqlite3_stmt* s_ = nullptr;
};

}  // namespace

RuntimeError ArchiveIndex::failure(const std::string& why) const {
    const int code = sqlite3_errcode(db_);
    const int number = code == SQLITE_FULL ? kErrDiskFull : kErrPathFileAccess;
    return RuntimeError(number, standardDescription(number) + ": " + path_ + " (" + why + ")");
}

ArchiveIndex::ArchiveIndex(const std::string& archive) : path_(archive + "/index.sqlite") {
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) {
        const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw RuntimeError(kErrPathFileAccess, standardDescription(kErrPathFileAccess) + ": " +
                                                   path_ + " (" + why + ")");
    }
    sqlite3_busy_timeout(db_, 5000);
    // A commit is on the disk before the station goes on.
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=FULL");
    exec(
        "CREATE TABLE IF NOT EXISTS downloads ("
        " id INTEGER PRIMARY KEY,"
        " device TEXT NOT NULL,"
        " stable_name TEXT NOT NULL,"
        " started TEXT NOT NULL,"
        " ended TEXT NOT NULL,"
        " records INTEGER NOT NULL,"
        " outcome TEXT NOT NULL,"
        " file TEXT NOT NULL UNIQUE,"
        " sha256 TEXT NOT NULL,"
        " repeat_of INTEGER REFERENCES downloads(id))");
    exec("CREATE INDEX IF NOT EXISTS downloads_sha256 ON downloads(sha256)");
}

ArchiveIndex::~ArchiveIndex() {
    sqlite3_close(db_);
}

void ArchiveIndex::exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string why = error != nullptr ? error : "unknown";
        sqlite3_free(error);
        throw failure(why);
    }
}

std::int64_t ArchiveIndex::add(const Download& d) {
    exec("BEGIN IMMEDIATE");
    try {
        std::int64_t repeatOf = 0;
        {
            Statement find(db_,
                           "SELECT id FROM downloads WHERE sha256 = ?1 AND records > 0 "
                           "AND repeat_of IS NULL ORDER BY id LIMIT 1");
            if (find.ok()) {
                find.bind(1, d.sha256);
                if (find.step() == SQLITE_ROW) repeatOf = find.column(0);
            }
        }
        Statement insert(db_,
                         "INSERT INTO downloads (device, stable_name, started, ended, records, "
                         "outcome, file, sha256, repeat_of) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                         "?8, NULLIF(?9, 0))");
        if (!insert.ok()) throw failure(sqlite3_errmsg(db_));
        insert.bind(1, d.device);
        insert.bind(2, d.stableName);
        insert.bind(3, d.started);
        insert.bind(4, d.ended);
        insert.bind(5, d.records);
        insert.bind(6, d.outcome);
        insert.bind(7, d.file);
        insert.bind(8, d.sha256);
        insert.bind(9, repeatOf);
        if (insert.step() != SQLITE_DONE) throw failure(sqlite3_errmsg(db_));
        exec("COMMIT");
        return repeatOf;
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool ArchiveIndex::has(const std::string& file) {
    Statement find(db_, "SELECT 1 FROM downloads WHERE file = ?1");
    if (!find.ok()) throw failure(sqlite3_errmsg(db_));
    find.bind(1, file);
    return find.step() == SQLITE_ROW;
}

}  // namespace vantor::cli
