#include <vantor/errors.h>
#include <vantor/export.h>
#include <vantor/file_output.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>

#include "export/table_writer.h"
#include "protocol/reading.h"

namespace vantor {

namespace {

using Cell = TableWriter::Cell;

Cell number(std::string_view text) {
    return {Cell::Kind::Number, text};
}
Cell text(std::string_view t) {
    return {Cell::Kind::Text, t};
}
Cell textOrEmpty(std::string_view t) {
    return t.empty() ? Cell{} : text(t);
}

// JSON takes -?digits(.digits)?([eE][+-]?digits)? and nothing else.
bool isJsonNumber(std::string_view s) {
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t from = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        return i > from;
    };
    if (i < s.size() && s[i] == '-') ++i;
    if (!digits()) return false;
    if (i < s.size() && s[i] == '.' && (++i, !digits())) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == s.size();
}

std::string withoutPadding(std::string unit) {
    while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\0')) unit.pop_back();
    return unit;
}

// A reading as the export shows it.
struct Shown {
    std::string value;  // a number's text, or empty
    std::string unit;
    const char* status = "ok";
};

Shown shown(const DataRecord& r) {
    Shown s;
    s.unit = r.unitQuoted ? withoutPadding(r.unit) : r.unit;
    double value = 0;
    const char* first = r.value.data();
    const char* last = first + r.value.size();
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) {
        s.status = "invalid";
    } else if (!std::isfinite(value)) {
        s.status = "invalid";  // nan, inf: no number JSON or a spreadsheet reads
    } else if (value == kInvalidValue) {
        s.status = "overload";
    } else {
        s.value = isJsonNumber(r.value) ? r.value : formatNumber(value);
    }
    return s;
}

// Reads every record of `path` up to a record cut short at the end (a
// download that was killed can leave one).
template <class Take>
void eachRecord(const std::string& path, Take&& take) {
    DataFileReader reader(path);
    while (!reader.atEnd()) {
        DataRecord record;
        try {
            record = reader.read();
        } catch (const RuntimeError& e) {
            if (e.number() == kErrInputPastEnd) return;
            throw;
        }
        take(record);
    }
}

// The time stamps as they come, and the time each gives.
class Stamps {
  public:
    Stamps(const ExportOptions& options, ExportSummary& summary)
        : clock_(options.dateOrder, options.timeZone), summary_(summary) {}

    void take(const DataRecord& r) {
        stamp_ = r.value;
        time_.clear();
        epoch_.reset();
        if (auto t = clock_.read(stamp_)) {
            time_ = MeterClock::iso(*t);
            epoch_ = t->epochSeconds;
        } else if (summary_.badStamps++ == 0) {
            summary_.firstBadStampRecord = std::atoll(r.sequence.c_str());
        }
    }
    const std::string& stamp() const { return stamp_; }
    const std::string& time() const { return time_; }
    std::optional<std::int64_t> epoch() const { return epoch_; }

  private:
    MeterClock clock_;
    ExportSummary& summary_;
    std::string stamp_, time_;
    std::optional<std::int64_t> epoch_;
};

void exportLong(const std::string& path, std::FILE* out, const ExportOptions& options,
                ExportSummary& summary) {
    ReadingWriter writer(out, options.format);
    summary = eachReading(path, options, [&](const ReadingRow& row) { writer.write(row); });
    writer.finish();
}

void exportWide(const std::string& path, std::FILE* out, const ExportOptions& options,
                ExportSummary& summary) {
    // The columns, in the order they first appear.
    std::map<std::pair<Integer, std::string>, std::size_t> column;
    std::vector<std::string> names{"time", "stamp"};
    eachRecord(path, [&](const DataRecord& r) {
        if (r.isTimeStamp()) return;
        const std::string unit = shown(r).unit;
        if (column.try_emplace({r.channel, unit}, names.size() - 2).second) {
            names.push_back(unit.empty() ? std::to_string(r.channel)
                                         : std::to_string(r.channel) + " " + unit);
        }
    });

    TableWriter table(out, options.format, names);
    table.header();
    Stamps stamps(options, summary);
    std::vector<std::string> values(names.size() - 2);
    std::vector<bool> filled(values.size(), false);
    bool open = false;
    std::vector<Cell> cells(names.size());
    auto emit = [&] {
        cells[0] = textOrEmpty(stamps.time());
        cells[1] = textOrEmpty(stamps.stamp());
        for (std::size_t i = 0; i < values.size(); ++i) {
            cells[i + 2] = values[i].empty() ? Cell{} : number(values[i]);
        }
        table.row(cells);
        ++summary.rows;
        std::fill(values.begin(), values.end(), std::string());
        std::fill(filled.begin(), filled.end(), false);
    };
    eachRecord(path, [&](const DataRecord& r) {
        ++summary.records;
        if (r.isTimeStamp()) {
            if (open) emit();
            stamps.take(r);
            open = true;
            return;
        }
        const Shown s = shown(r);
        const std::size_t i = column.at({r.channel, s.unit});
        if (filled[i]) emit();  // a second reading before the next stamp: a row of its own
        values[i] = s.value;
        filled[i] = true;
        open = true;
    });
    if (open) emit();
    table.finish();
}

}  // namespace

ExportSummary eachReading(const std::string& path, const ExportOptions& options,
                          const std::function<void(const ReadingRow&)>& take) {
    ExportSummary summary;
    Stamps stamps(options, summary);
    ReadingRow row;
    eachRecord(path, [&](const DataRecord& r) {
        ++summary.records;
        if (r.isTimeStamp()) {
            stamps.take(r);
            return;
        }
        const Shown s = shown(r);
        row.record = r.sequence;
        row.time = stamps.time();
        row.stamp = stamps.stamp();
        row.epochSeconds = stamps.epoch();
        row.channel = r.channel;
        row.value = s.value;
        row.unit = s.unit;
        row.status = s.status;
        take(row);
        ++summary.rows;
    });
    return summary;
}

struct ReadingWriter::Table {
    Table(std::FILE* out, ExportFormat format)
        : writer(out, format, {"record", "time", "stamp", "channel", "value", "unit", "status"}) {}
    TableWriter writer;
    std::vector<Cell> cells = std::vector<Cell>(7);
};

ReadingWriter::ReadingWriter(std::FILE* out, ExportFormat format)
    : table_(std::make_unique<Table>(out, format)) {
    table_->writer.header();
}

ReadingWriter::~ReadingWriter() = default;

void ReadingWriter::write(const ReadingRow& row) {
    const std::string channel = std::to_string(row.channel);
    std::vector<Cell>& cells = table_->cells;
    cells[0] = isJsonNumber(row.record) ? number(row.record) : text(row.record);
    cells[1] = textOrEmpty(row.time);
    cells[2] = textOrEmpty(row.stamp);
    cells[3] = number(channel);
    // A host's value that is no number (nan from a database) is invalid here too.
    const bool invalid = !row.value.empty() && !isJsonNumber(row.value);
    cells[4] = row.value.empty() || invalid ? Cell{} : number(row.value);
    cells[5] = text(row.unit);
    cells[6] = invalid ? text("invalid") : text(row.status);
    table_->writer.row(cells);
}

void ReadingWriter::finish() {
    table_->writer.finish();
}

ExportSummary exportDataFileTo(const std::string& path, const std::string& out,
                               const ExportOptions& options) {
    if (sameFile(path, out)) {
        throw RuntimeError(kErrInvalidCall, standardDescription(kErrInvalidCall) + ": " + out +
                                                " is the data file " + path +
                                                " itself; give the export a name of its own");
    }
    // The data file is opened first: a FIFO waits for its reader.
    DataFileReader{path};
    // A device, a FIFO or standard output takes the rows as they come.
    FileOutput output(out, FileOutput::Streams::Direct);
    ExportSummary summary;
    std::FILE* f = output.stream();
    try {
        summary = exportDataFile(path, f, options);
    } catch (const RuntimeError& e) {
        if (std::ferror(f) == 0) throw;
        throw RuntimeError(e.number(), e.description() + ": " + out);
    }
    summary.keptEarlier = output.commit();
    return summary;
}

const char* exportExtension(ExportFormat format) {
    switch (format) {
        case ExportFormat::Tsv:
            return "tsv";
        case ExportFormat::JsonLines:
            return "jsonl";
        case ExportFormat::Csv:
            break;
    }
    return "csv";
}

ExportSummary exportDataFile(const std::string& path, std::FILE* out,
                             const ExportOptions& options) {
    ExportSummary summary;
    if (options.layout == ExportLayout::PerStamp) {
        exportWide(path, out, options, summary);
    } else {
        exportLong(path, out, options, summary);
    }
    return summary;
}

}  // namespace vantor
