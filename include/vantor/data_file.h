// A data file read back record by record, in flat memory however large the
// file, with the item rules the data view (ViewData) reads it with.
#pragma once

#include <vantor/date_source.h>
#include <vantor/types.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantor {

// One line of a data file.
struct DataRecord {
    String sequence;          // item 1 as written
    String value;             // item 2: the value as written, or a time stamp's twelve digits
    String unit;              // item 3: "Time", a unit name (10 characters) or a unit code
    bool unitQuoted = false;  // item 3 stood in double quotes (a name, or "Time")
    Integer channel = 0;      // item 4
    bool isTimeStamp() const { return unit == "Time"; }
};

// A time stamp as the data view shows it: "120604154815" gives
// "120604 15:48:15"; a shorter one leaves empty pieces.
String timeStampText(const String& stamp);

// The data view's four cells of record number `row` (from 1): No.,
// Channel, Value (a time stamp as timeStampText gives it) and Unit.
std::array<String, 4> dataViewCells(Long row, const DataRecord& record);

// The data file of `date` in `folder`: folder/yyyymmdd.dat (folder\yyyymmdd.dat
// on Windows).
String dataFileName(const String& folder, const Date& date);
// The unit file in `folder`: folder/unit2.dat (folder\unit2.dat on Windows).
String unitFileName(const String& folder);
// The names the unit file in `folder` gives the codes 0 to 300, without
// their padding ("" for a code it leaves unnamed), read by ReadUnitFile's
// rules. Throws RuntimeError naming the file as ReadUnitFile does.
std::vector<std::string> readUnitNames(const String& folder);

// A number as the data file writes it: 15 significant digits, plain decimal
// for exponents -10 to 14 (123.45, 0.5, 1234500), else "%.15G"; the locale
// never changes it.
std::string formatNumber(double value);

// The one rule for a name that never replaces a file: `take` is tried on
// `base` + `ending`, then base + separator + "1" + ending, base +
// separator + "2" + ending, ..., until it takes one (returns true), whose
// name is returned. `take` returns false when a file has the name already
// and throws RuntimeError for any other failure. Error 75 naming base +
// ending when the first 10000 are all taken.
std::string firstFreeName(const std::string& base, const std::string& ending,
                          const std::string& separator,
                          const std::function<bool(const std::string& name)>& take);

// A download never replaces an earlier one without being asked: when `path`
// is a regular file that is not empty, copies it to path.N (the lowest N
// whose name is free), puts the copy's name on the disk, and returns it;
// otherwise returns "". The original stays in place, so a download that
// then cannot arm loses nothing. Throws RuntimeError naming the files when
// the copy fails.
std::string keepEarlierDownload(const std::string& path);

// A new file is written under a temporary name beside `path` and put in
// place when complete: createBeside makes it (with the mode open(2) would
// give it) and returns its descriptor (the C runtime's, the caller's to
// close before putInPlace), its name in `temporary`; putInPlace
// puts it on the disk, keeps an earlier `path` as path.N and renames it,
// returning the kept name ("" when there was none). Both throw RuntimeError
// naming the files; putInPlace removes the temporary file when it fails,
// discardBeside when the writing failed. A link to a regular file is
// replaced by the new file (what it pointed to stays, and is kept as path.N).
//
// On POSIX, a `path` that is no regular file is never replaced: a device,
// a FIFO, a socket, a standard stream under any name (/dev/stdout,
// /proc/self/fd/1) or a link to one. createBeside then gives a temporary
// file of its own, away from `path` (its name under /proc/self/fd), and
// putInPlace writes it to `path` and keeps nothing. A folder is error 75.
int createBeside(const std::string& path, std::string& temporary);
std::string putInPlace(const std::string& temporary, const std::string& path);
void discardBeside(const std::string& temporary);

// For a writer that can stream: a `path` that is no regular file (as
// above; on Windows a path is always a file) opened for writing, its descriptor to write to and
// close; -1 for a regular file, a link to one or a name not yet taken, to be written with
// createBeside. A FIFO waits for its reader. Throws RuntimeError naming the
// path: 75 for a folder, or when it cannot be opened.
int openStreamOutput(const std::string& path);

// True when both paths name one file (through links or other names).
bool sameFile(const std::string& a, const std::string& b);

class ItemReader;

class DataFileReader {
  public:
    // Opens `path`, a regular file. Throws RuntimeError naming the path: 53
    // or 76 when it is missing, 75 for a folder, a device or a pipe, 70
    // without permission.
    explicit DataFileReader(const String& path);
    ~DataFileReader();
    DataFileReader(DataFileReader&&) noexcept;
    DataFileReader& operator=(DataFileReader&&) noexcept;

    // True when nothing but line ends is left (they are passed over).
    bool atEnd();
    // The next record: four items, separated by commas or line ends, each
    // perhaps in double quotes. Throws 62 when the file ends first, 13 or 6
    // for a channel that is no Integer, 75 for an item over 64 KiB.
    DataRecord read();

  private:
    std::unique_ptr<ItemReader> items_;
};

}  // namespace vantor
