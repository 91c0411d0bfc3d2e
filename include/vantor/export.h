// Readings out as data: a data file as CSV, TSV or JSON Lines, with the
// meter's own time on every reading. Library VantorComm::qt on Linux
// (pkg-config vantor-comm), where the time zones are Qt's; VantorComm::win32
// on Windows, which knows the machine's zone and UTC.
#pragma once

#include <vantor/data_file.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// The order of a time stamp's six-digit date group.
enum class DateOrder { Ymd, Dmy, Mdy };

// The meter's clock: a time stamp's twelve digits (the date group, then
// hhmmss; the year is 2000 + yy) read as local time in a zone.
class MeterClock {
  public:
    struct Time {
        std::int64_t epochSeconds;  // seconds since 1970-01-01T00:00:00Z
        int offsetSeconds;          // the zone's offset from UTC then
    };

    // `zone` is an IANA name of the time-zone database ("Europe/Berlin"),
    // "UTC", or empty for the machine's zone. Throws RuntimeError 5 naming
    // any other ("Berlin", "CEST").
    explicit MeterClock(DateOrder order = DateOrder::Ymd, const std::string& zone = {});

    // The time of `stamp`, or nothing when it is not a date and a time. A
    // stamp in the hour a daylight-saving change skips or repeats is read as
    // the zone's rules give it (a skipped time moves on by the gap; a
    // repeated one is the earlier). One thread at a time: it keeps the last
    // day's offsets.
    std::optional<Time> read(const std::string& stamp) const;

    // ISO 8601 with the offset: 2012-06-04T15:48:15+02:00.
    static std::string iso(const Time& time);

  private:
    struct Zone;
    DateOrder order_;
    std::shared_ptr<const Zone> zone_;
};

enum class ExportFormat { Csv, Tsv, JsonLines };
enum class ExportLayout { PerReading, PerStamp };  // long, wide

struct ExportOptions {
    ExportFormat format = ExportFormat::Csv;
    ExportLayout layout = ExportLayout::PerReading;
    DateOrder dateOrder = DateOrder::Ymd;
    std::string timeZone;  // as MeterClock takes it
};

// What an export found.
struct ExportSummary {
    std::int64_t records = 0;               // records read
    std::int64_t rows = 0;                  // rows written
    std::int64_t badStamps = 0;             // time stamps that are not a date and a time
    std::int64_t firstBadStampRecord = -1;  // the first one's sequence number
    std::string keptEarlier;  // exportDataFileTo: where an earlier file went, if one was there
};

// Writes the data file at `path` to `out`:
// - long layout: a row per reading, columns record (the sequence number),
//   time (of the last time stamp before it; empty before the first),
//   stamp (as sent), channel, value (empty for an overload or a value that
//   is no finite number), unit (the name without its padding, or the code),
//   status ("ok", "overload" for the meter's 999999, "invalid" for no
//   finite number: "x", "nan", "inf", 1e999);
// - wide layout: a row per time stamp (time, stamp), a column per channel
//   and unit ("1 degC") in the order they first appear, a cell empty where
//   that reading is missing (a second reading of a column before the next
//   stamp starts a row of its own).
// CSV per RFC 4180 with a header row, TSV the same with tabs, JSON Lines an
// object per row (numbers as numbers, empty as null). Reads the file once
// (long) or twice (wide), a record at a time. Throws RuntimeError as
// DataFileReader does, and 61 or 75 when `out` fails.
ExportSummary exportDataFile(const std::string& path, std::FILE* out, const ExportOptions& options);

// The same into the file `out`, written under a new name beside it, put on
// the disk and then renamed: an earlier `out` is kept as out.N (named in the
// summary), never overwritten. An `out` that is no regular file (a device,
// a FIFO, standard output under any name: see openStreamOutput) is written
// to as it is. Throws RuntimeError naming the files: 5 when `out` is the
// data file itself.
ExportSummary exportDataFileTo(const std::string& path, const std::string& out,
                               const ExportOptions& options);

// "csv", "tsv", "jsonl" (also the file's extension).
const char* exportExtension(ExportFormat format);

// A row of the long layout as values, for a host that keeps readings
// elsewhere (a database) and writes them out again.
struct ReadingRow {
    std::string record;  // the sequence number, as the data file has it
    std::string time;    // ISO 8601 with the offset, or empty
    std::string stamp;   // the last time stamp as sent, or empty
    Integer channel = 0;
    std::string value;  // a number's text, or empty (overload, invalid)
    std::string unit;
    std::string status;                        // "ok", "overload" or "invalid"
    std::optional<std::int64_t> epochSeconds;  // of `time`
};

// Calls `take` with each reading of the data file at `path`, as the long
// layout has it, in order. Throws as exportDataFile does.
ExportSummary eachReading(const std::string& path, const ExportOptions& options,
                          const std::function<void(const ReadingRow&)>& take);

// Writes ReadingRows as exportDataFile's long layout (the header first); a
// value that is no number ("nan") is written empty, its status "invalid".
class ReadingWriter {
  public:
    ReadingWriter(std::FILE* out, ExportFormat format);
    ~ReadingWriter();
    ReadingWriter(const ReadingWriter&) = delete;
    ReadingWriter& operator=(const ReadingWriter&) = delete;
    void write(const ReadingRow& row);
    // Hands everything to `out`; throws RuntimeError 61 or 75 when it failed.
    void finish();

  private:
    struct Table;
    std::unique_ptr<Table> table_;
};

}  // namespace vantor
