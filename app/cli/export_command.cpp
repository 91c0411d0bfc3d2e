#include "export_command.h"

#include <fcntl.h>
#include <station/site_database.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/file_output.h>

#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arguments.h"
#include "exit_status.h"

namespace vantor::cli {

using station::SiteDatabase;

namespace {

std::string str(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

void warnOfStamps(const ExportSummary& s) {
    if (!s.keptEarlier.empty())
        std::fprintf(stderr, "earlier export kept as: %s\n", s.keptEarlier.c_str());
    if (s.badStamps == 0) return;
    std::fprintf(stderr,
                 "warning: %lld time stamp%s not a date and a time (the first is record %lld); "
                 "the readings after %s have no time\n",
                 static_cast<long long>(s.badStamps), s.badStamps == 1 ? " is" : "s are",
                 static_cast<long long>(s.firstBadStampRecord), s.badStamps == 1 ? "it" : "them");
}

// A file of its own for what comes on standard input: the wide layout reads twice.
class Spool {
  public:
    Spool() {
        const char* tmp = std::getenv("TMPDIR");
        path_ =
            std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/vantor-export-XXXXXX";
        const int fd = ::mkostemp(path_.data(), O_CLOEXEC);
        if (fd < 0) throw fileError(errno, path_, false);
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (::write(fd, buffer, static_cast<std::size_t>(n)) != n) {
                const int err = errno;
                ::close(fd);
                ::unlink(path_.c_str());
                throw fileError(err, path_, false);
            }
        }
        ::close(fd);
    }
    ~Spool() { ::unlink(path_.c_str()); }
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace

void addExportOptions(QCommandLineParser& parser, bool format) {
    if (format) parser.addOption({"format", "csv (default), tsv or jsonl.", "FORMAT", "csv"});
    parser.addOptions({
        {"layout", "long (a row per reading, default) or wide (a row per time stamp).", "LAYOUT",
         "long"},
        {{"o", "output"}, "Write to OUT instead of standard output.", "OUT"},
    });
    addClockOptions(parser);
}

void addClockOptions(QCommandLineParser& parser) {
    parser.addOptions({
        {"date-order", "The time stamp's date group: ymd (default), dmy or mdy.", "ORDER", "ymd"},
        {"tz", "The meter's clock is local time in ZONE (default: this machine's).", "ZONE"},
        {"utc", "The meter's clock is UTC."},
    });
}

bool clockOptions(const QCommandLineParser& parser, ExportOptions& options) {
    const QString order = parser.value("date-order");
    if (order == "dmy") {
        options.dateOrder = DateOrder::Dmy;
    } else if (order == "mdy") {
        options.dateOrder = DateOrder::Mdy;
    } else if (order != "ymd") {
        std::fprintf(stderr, "--date-order: '%s' is not one of ymd, dmy, mdy\n",
                     order.toLocal8Bit().constData());
        return false;
    }
    if (parser.isSet("utc") && parser.isSet("tz")) {
        std::fprintf(stderr, "--tz and --utc: give one of them\n");
        return false;
    }
    options.timeZone = parser.isSet("utc") ? "UTC" : str(parser.value("tz"));
    if (parser.isSet("tz") && options.timeZone.empty()) {
        std::fprintf(stderr, "--tz: give a zone such as Europe/Berlin, or UTC\n");
        return false;
    }
    try {
        MeterClock check(options.dateOrder, options.timeZone);
    } catch (const RuntimeError& e) {
        std::fprintf(stderr, "--tz: %s\n", e.description().c_str());
        return false;
    }
    return true;
}

std::optional<ExportFormat> exportFormat(const QString& name) {
    if (name == "csv") return ExportFormat::Csv;
    if (name == "tsv") return ExportFormat::Tsv;
    if (name == "jsonl") return ExportFormat::JsonLines;
    return std::nullopt;
}

std::optional<ExportOptions> exportOptions(const QCommandLineParser& parser) {
    ExportOptions options;
    auto bad = [](const char* option, const QString& value, const char* choices) {
        std::fprintf(stderr, "--%s: '%s' is not one of %s\n", option,
                     value.toLocal8Bit().constData(), choices);
        return std::nullopt;
    };
    if (parser.isSet("format")) {
        auto f = exportFormat(parser.value("format"));
        if (!f) return bad("format", parser.value("format"), "csv, tsv, jsonl");
        options.format = *f;
    }
    const QString layout = parser.value("layout");
    if (layout == "wide") {
        options.layout = ExportLayout::PerStamp;
    } else if (layout != "long") {
        return bad("layout", layout, "long, wide");
    }
    if (!clockOptions(parser, options)) return std::nullopt;
    return options;
}

int runExport(const std::string& file, const ExportOptions& options, const std::string& out) {
    // Standard input that is a file the shell opened is the input too.
    struct stat in {};
    struct stat to {};
    const bool input = file == "-" ? ::fstat(STDIN_FILENO, &in) == 0 && S_ISREG(in.st_mode)
                                   : ::stat(file.c_str(), &in) == 0;
    if (!out.empty() && input && ::stat(out.c_str(), &to) == 0 && to.st_dev == in.st_dev &&
        to.st_ino == in.st_ino) {
        std::fprintf(stderr,
                     "-o %s: that is the data file %s itself; give the export a name of its own\n",
                     out.c_str(), file == "-" ? "(on standard input)" : file.c_str());
        return kExitUsage;
    }
    try {
        std::optional<Spool> spool;
        if (file == "-") spool.emplace();
        const std::string& path = spool ? spool->path() : file;
        const ExportSummary summary = out.empty() ? exportDataFile(path, stdout, options)
                                                  : exportDataFileTo(path, out, options);
        warnOfStamps(summary);
    } catch (const RuntimeError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "error %d: %s\n", e.number(), e.description().c_str());
        return kExitFailure;
    }
    return kExitOk;
}

std::string exportBeside(const std::string& dataFile, ExportFormat format) {
    ExportOptions options;
    options.format = format;
    const std::string out = dataFile + "." + exportExtension(format);
    warnOfStamps(exportDataFileTo(dataFile, out, options));
    return out;
}

namespace {

// --since and --until: ISO 8601, local time unless it has an offset.
std::optional<std::int64_t> instant(const QCommandLineParser& parser, const char* name, bool& ok) {
    if (!parser.isSet(name)) return std::nullopt;
    const QDateTime t = QDateTime::fromString(parser.value(name), Qt::ISODate);
    if (!t.isValid()) {
        std::fprintf(stderr,
                     "--%s: '%s' is not a time such as 2026-12-01 or 2026-12-01T08:00+01:00\n",
                     name, parser.value(name).toLocal8Bit().constData());
        ok = false;
        return std::nullopt;
    }
    return t.toSecsSinceEpoch();
}

// An empty export is no error, but should not pass for one of everything.
void warnOfNone(SiteDatabase& db, const SiteDatabase::Filter& filter,
                const QCommandLineParser& parser) {
    const std::string shown = SiteDatabase::masked(str(parser.value("database")));
    if (!filter.device.empty() && db.downloadsOf(filter.device) == 0) {
        std::fprintf(stderr,
                     "warning: %s has no download of the device '%s' (give its stable name, "
                     "the archive's folder, or its device)\n",
                     shown.c_str(), filter.device.c_str());
        return;
    }
    std::string given;
    for (const char* o : {"device", "since", "until"}) {
        if (parser.isSet(o)) given += std::string(given.empty() ? "" : ", ") + "--" + o;
    }
    if (given.empty()) {
        std::fprintf(stderr, "warning: %s holds no readings\n", shown.c_str());
    } else {
        std::fprintf(stderr, "warning: no reading in %s matches %s\n", shown.c_str(),
                     given.c_str());
    }
}

int exportFromDatabase(const QCommandLineParser& parser, const ExportOptions& options) {
    if (options.layout == ExportLayout::PerStamp) {
        std::fprintf(stderr, "--layout wide: the database gives the long layout only\n");
        return kExitUsage;
    }
    for (const char* clock : {"tz", "utc", "date-order"}) {
        if (parser.isSet(clock)) {
            std::fprintf(stderr,
                         "--%s: the database holds the times the station gave its readings\n",
                         clock);
            return kExitUsage;
        }
    }
    SiteDatabase::Filter filter;
    bool ok = true;
    filter.since = instant(parser, "since", ok);
    filter.until = instant(parser, "until", ok);
    if (!ok) return kExitUsage;
    filter.device = str(parser.value("device"));
    const std::string url = str(parser.value("database"));
    if (const std::string problem = SiteDatabase::urlProblem(url); !problem.empty()) {
        std::fprintf(stderr, "--database: %s\n", problem.c_str());
        return kExitUsage;
    }
    if (SiteDatabase::hasPassword(url)) {
        std::fprintf(stderr,
                     "warning: the password in --database's URL is visible to every user of this "
                     "machine (ps); give it in ~/.pgpass, PGPASSFILE or PGPASSWORD instead\n");
    }
    const std::string out = str(parser.value("output"));
    try {
        SiteDatabase db(url, SiteDatabase::Access::Read);
        std::optional<FileOutput> output;
        if (!out.empty()) output.emplace(out);
        ReadingWriter writer(output ? output->stream() : stdout, options.format);
        const std::int64_t rows =
            db.eachReading(filter, [&](const ReadingRow& row) { writer.write(row); });
        writer.finish();
        if (rows == 0) warnOfNone(db, filter, parser);
        if (output) {
            const std::string kept = output->commit();
            if (!kept.empty()) std::fprintf(stderr, "earlier export kept as: %s\n", kept.c_str());
        }
    } catch (const RuntimeError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "error %d: %s\n", e.number(), e.description().c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

int exportCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes a data file's readings, or a station database's, as CSV, TSV or JSON Lines, each "
        "with the meter's time.");
    parser.addPositionalArgument("FILE", "The data file, or - for standard input.");
    addExportOptions(parser);
    parser.addOptions({
        {"database",
         "Instead of a file: the readings of a station database (postgresql://user@host:port/db "
         "or sqlite:PATH), download by download.",
         "URL"},
        {"since", "With --database: readings from this time on (ISO 8601).", "TIME"},
        {"until", "With --database: readings before this time.", "TIME"},
        {"device", "With --database: the downloads of this device (its stable name or path).",
         "NAME"},
    });
    const bool fromDatabase = std::any_of(args.begin(), args.end(), [](const QString& a) {
        return a == "--database" || a.startsWith("--database=");
    });
    if (auto stop = parseArguments(parser, args, fromDatabase ? 0 : 1)) return *stop;
    auto options = exportOptions(parser);
    if (!options) return kExitUsage;
    if (fromDatabase) return exportFromDatabase(parser, *options);
    for (const char* only : {"since", "until", "device"}) {
        if (parser.isSet(only)) {
            std::fprintf(stderr, "--%s: goes with --database\n", only);
            return kExitUsage;
        }
    }
    return runExport(str(parser.positionalArguments()[0]), *options, str(parser.value("output")));
}

}  // namespace vantor::cli
