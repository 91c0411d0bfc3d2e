// export, and the export options view and download share with it.
#pragma once

#include <vantor/export.h>

#include <QCommandLineParser>
#include <optional>
#include <string>

namespace vantor::cli {

// --format (when `format`), --layout, the clock's options and -o.
void addExportOptions(QCommandLineParser& parser, bool format = true);
// --date-order, --tz and --utc.
void addClockOptions(QCommandLineParser& parser);
// The clock's options into `options`; false (reported) when one is not valid.
bool clockOptions(const QCommandLineParser& parser, ExportOptions& options);
// The options given; a usage error (reported) when one is not valid.
std::optional<ExportOptions> exportOptions(const QCommandLineParser& parser);
// A format name: csv, tsv or jsonl.
std::optional<ExportFormat> exportFormat(const QString& name);

// Exports `file` ("-": standard input) to `out` (empty: standard output),
// warning once of stamps that are no time. Returns the exit status.
int runExport(const std::string& file, const ExportOptions& options, const std::string& out);

// Writes the export of `dataFile` beside it (dataFile.csv, ...), keeping an
// earlier one as .N; returns its name. Throws RuntimeError.
std::string exportBeside(const std::string& dataFile, ExportFormat format);

int exportCommand(const QStringList& args);

}  // namespace vantor::cli
