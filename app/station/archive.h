// The station's archive: DIR/<stable device name>/<UTC start>.dat (or
// .partial.dat, with FILE.raw beside it when there were no unit names), and
// DIR/index.sqlite. A transfer is written under .incoming-XXXX.dat (.raw,
// .start) and linked to its name once it ends. Everything is opened relative
// to DIR's descriptor, never through a link.
#pragma once

#include <sys/types.h>
#include <vantor/errors.h>
#include <vantor/export.h>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "site_database.h"

namespace vantor::station {

inline constexpr const char* kIndex = "index.sqlite";
inline constexpr const char* kIncoming = ".incoming-";

std::string utc(std::time_t t, const char* format);
std::string iso(std::time_t t);
// A download's name: its start, yyyymmddThhmmssZ.
std::string startName(std::time_t t);

// An open file of the station's own, closed when it goes.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept;
    Fd& operator=(Fd&& other) noexcept;
    void reset();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

// The name that opens the very file `fd` is, whatever is at its own name
// now: the control and the readers open it by that name.
std::string fdPath(int fd);

RuntimeError notOurs(const std::string& path, const char* what);
// A folder of the archive, made 0750 when it is new.
Fd folderIn(int at, const std::string& name, const std::string& shown);
// A new file, 0640 whatever the umask; never one already there.
Fd createFile(int folder, const std::string& name, const std::string& shown);
// A regular file, for reading; none when it is a link or anything else.
Fd openRegular(int folder, const std::string& name);
// Whether `name` in `folder` is still the file `fd` is.
bool isFile(int folder, const std::string& name, int fd);
// Unpredictable, so that nothing can be planted at the name beforehand.
std::string randomPart();
// Gives the file `fd` the name `base` + `ending` in `folder`, or base-1...,
// never one already there, and takes the name `from` away when it still
// is that file; returns the name taken.
std::string keepAs(int fd, int folder, const std::string& shownFolder, const std::string& from,
                   const std::string& base, const std::string& ending);
// When a transfer began, beside its temporary file: a station killed during
// it cannot say so afterwards, and the file is named by its start.
void markStart(int folder, const std::string& temp, std::time_t started);
std::optional<std::time_t> startMark(int folder, const std::string& temp);

struct Digest {
    std::string sha256;
    std::int64_t lines = 0;
};
Digest digestOf(int fd);

// What recover() found, in the order found.
struct Found {
    enum Kind {
        Kept,         // a killed station's transfer, filed as a partial download
        Indexed,      // a filed download the index lacked
        LinkFolder,   // a link among the device folders, left alone
        NotAFile,     // a link or something else at a download's name, left alone
        Failed,       // could not be indexed now: tried again later
        NoReadings,   // indexed, but its file gives no readings
        IndexFailed,  // the index could not be read or written
    };
    Kind kind;
    std::string file;  // relative to the archive for Kept, Indexed and NoReadings, else in full
    std::string why;
    bool operator==(const Found&) const = default;
};

struct Recovery {
    std::vector<Found> found;
    bool stillOut = false;  // something to try again later
};

class Archive {
  public:
    // Makes DIR (0750) when it is missing and holds DIR/.station.lock while
    // it lives: one station per archive.
    explicit Archive(std::string path);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    const std::string& path() const { return path_; }
    int fd() const { return dir_; }
    std::string indexPath() const { return path_ + "/" + kIndex; }

    // DIR/index.sqlite, made when missing; a damaged one is set aside first
    // as index.sqlite.corrupt-N, whose name `setAside` gets (and `why` the damage).
    std::unique_ptr<SiteDatabase> openIndex(std::string& setAside, std::string& why);
    // Whether the index file was removed or replaced since openIndex().
    bool indexMoved() const;

    // Transfers a killed station left under their temporary names (but not
    // those `running`), and files the index lacks or has no readings of.
    Recovery recover(const std::function<SiteDatabase&()>& index, const ExportOptions& clock,
                     const std::function<bool(const std::string& stable, const std::string& base)>&
                         running = {});

  private:
    std::vector<std::string> folders(Recovery& r);
    bool recoverFile(int folder, const std::string& stable, const std::string& name,
                     const std::function<SiteDatabase&()>& index, const ExportOptions& clock,
                     Recovery& r);
    void addMissingReadings(SiteDatabase& index, const ExportOptions& clock, Recovery& r);

    std::string path_;
    int dir_ = -1;
    int lock_ = -1;
    dev_t indexDev_ = 0;  // the file the index has open
    ino_t indexIno_ = 0;
};

}  // namespace vantor::station
