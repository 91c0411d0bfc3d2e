// plot: the desktop program's charts, drawn without a display.
#include <vantor/data_file.h>
#include <vantor/qt_platform.h>

#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "exit_status.h"
#include "export_command.h"
#include "reading_summary.h"
#include "readings_chart.h"

namespace vantor::cli {

namespace {

std::string str(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// A side larger than this is a mistake, and its picture would not fit in memory.
constexpr int kMostPixels = 10000;

}  // namespace

int plotCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Draws a data file's readings as the desktop program's charts (one per unit, a line per "
        "channel, against the meter's clock) into a PNG, SVG or PDF file.");
    parser.addPositionalArgument("FILE", "The data file.");
    parser.addOptions({
        {{"o", "output"}, "The picture: OUT.png, OUT.svg or OUT.pdf.", "OUT"},
        {"size",
         QString("Its size in pixels, at most %1 a side (default: 1000 wide, 220 high for each "
                 "chart).")
             .arg(kMostPixels),
         "WxH"},
        {"app-path", "Folder of unit2.dat, to name the units the file holds as codes.", "DIR"},
    });
    addClockOptions(parser);
    if (auto stop = parseArguments(parser, args, 1)) return *stop;
    const std::string out = str(parser.value("output"));
    if (out.empty() ||
        !QRegularExpression("\\.(png|svg|pdf)$", QRegularExpression::CaseInsensitiveOption)
             .match(parser.value("output"))
             .hasMatch()) {
        std::fprintf(stderr, "-o: give the picture's name, ending in .png, .svg or .pdf\n");
        return kExitUsage;
    }
    const auto size = QRegularExpression("^(\\d{2,5})x(\\d{2,5})$").match(parser.value("size"));
    if (parser.isSet("size") && !size.hasMatch()) {
        std::fprintf(stderr, "--size: '%s' is not WIDTHxHEIGHT in pixels, such as 1000x700\n",
                     parser.value("size").toLocal8Bit().constData());
        return kExitUsage;
    }
    if (size.hasMatch() &&
        (size.captured(1).toInt() > kMostPixels || size.captured(2).toInt() > kMostPixels)) {
        std::fprintf(stderr, "--size: '%s' is too large: at most %dx%d pixels\n",
                     parser.value("size").toLocal8Bit().constData(), kMostPixels, kMostPixels);
        return kExitUsage;
    }
    ExportOptions options;
    if (!clockOptions(parser, options)) return kExitUsage;
    const MeterClock clock(options.dateOrder, options.timeZone);
    // The axis labels the meter's clock readings in this process's local
    // time: in UTC that has no hour that a change to summer time skips or
    // repeats. The clock above has its zone already.
    ::setenv("TZ", "UTC", 1);
    ::tzset();

    const std::string file = str(parser.positionalArguments()[0]);
    if (sameFile(file, out)) {
        std::fprintf(stderr,
                     "-o %s: that is the data file %s itself; give the picture a name of its own\n",
                     out.c_str(), file.c_str());
        return kExitUsage;
    }
    try {
        std::vector<std::string> names;
        if (parser.isSet("app-path")) names = readUnitNames(str(parser.value("app-path")));
        const int width = size.hasMatch() ? size.captured(1).toInt() : 1000;
        gui::ReadingSummary summary = gui::ReadingSummary::build(
            gui::dataFileFeed(file, clock, std::move(names)), gui::SummaryLimits{width});
        if (summary.records == 0) {
            throw RuntimeError(kErrSubscript, standardDescription(kErrSubscript) + ": " + file +
                                                  " has no records");
        }
        gui::ReadingsChart chart;
        chart.showSummary(std::move(summary));
        const QString note = chart.leftOutNote();
        if (!note.isEmpty()) std::fprintf(stderr, "plot: %s\n", str(note).c_str());
        const int height = size.hasMatch()
                               ? size.captured(2).toInt()
                               : std::min(kMostPixels, 220 * std::max(1, chart.chartCount()) +
                                                           (note.isEmpty() ? 0 : 24));
        const std::string kept = chart.save(out, QSize(width, height));
        if (!kept.empty()) {
            std::fprintf(stderr, "plot: kept the earlier %s as %s\n", out.c_str(), kept.c_str());
        }
        std::fprintf(stderr, "plot: %s (%d chart%s, %d readings%s)\n", out.c_str(),
                     chart.chartCount(), chart.chartCount() == 1 ? "" : "s", chart.pointCount(),
                     chart.byTime() ? ", against the meter's clock" : ", by record number");
    } catch (const RuntimeError& e) {
        std::fprintf(stderr, "error %d: %s\n", e.number(), e.description().c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace vantor::cli
