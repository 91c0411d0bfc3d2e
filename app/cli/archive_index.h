// The station's index of downloads: an SQLite file in the archive, written
// one transaction per download, so that a kill at any moment leaves it
// readable and every row whole.
#pragma once

#include <vantor/errors.h>

#include <cstdint>
#include <string>

struct sqlite3;

namespace vantor::cli {

class ArchiveIndex {
  public:
    struct Download {
        std::string device;
        std::string stableName;
        std::string started;  // ISO 8601, UTC
        std::string ended;
        std::int64_t records = 0;
        std::string outcome;  // end marker, partial: device lost, idle, stopped, ...
        std::string file;     // relative to the archive
        std::string sha256;   // of the data file's bytes
    };

    // Opens (creates) DIR/index.sqlite. Throws RuntimeError naming it.
    explicit ArchiveIndex(const std::string& archive);
    ~ArchiveIndex();
    ArchiveIndex(const ArchiveIndex&) = delete;
    ArchiveIndex& operator=(const ArchiveIndex&) = delete;

    // Adds a download; returns the id of an earlier one with the same
    // records (the same memory downloaded again), or 0.
    std::int64_t add(const Download& d);
    // Whether a download of that file (relative to the archive) is indexed.
    bool has(const std::string& file);

  private:
    void exec(const char* sql);
    // The index's last failure: 61 when the disk is full, else 75.
    RuntimeError failure(const std::string& why) const;

    std::string path_;
    sqlite3* db_ = nullptr;
};

}  // namespace vantor::cli
