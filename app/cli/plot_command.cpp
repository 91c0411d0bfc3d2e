// plot: the desktop program's charts, drawn without a display.
#include <vantor/data_file.h>
#include <vantor/qt_platform.h>

#include <QRegularExpression>
#include <algorithm>
#include <cstdio>

#include "arguments.h"
#include "commands.h"
#include "exit_status.h"
#include "export_command.h"
#include "readings_chart.h"

namespace vantor::cli {

namespace {

std::string str(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// Records up to the last whole one.
Long countRecords(const std::string& file) {
    DataFileReader reader(file);
    Long n = 0;
    while (!reader.atEnd()) {
        try {
            reader.read();
        } catch (const RuntimeError& e) {
            if (e.number() != kErrInputPastEnd) throw;
            break;
        }
        ++n;
    }
    return n;
}

}  // namespace

int plotCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Draws a data file's readings as the desktop program's charts (one per unit, a line per "
        "channel, against the meter's clock) into a PNG, SVG or PDF file.");
    parser.addPositionalArgument("FILE", "The data file.");
    parser.addOptions({
        {{"o", "output"}, "The picture: OUT.png, OUT.svg or OUT.pdf.", "OUT"},
        {"size", "Its size in pixels (default: 1000 wide, 220 high for each chart).", "WxH"},
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
    ExportOptions options;
    if (!clockOptions(parser, options)) return kExitUsage;
    const MeterClock clock(options.dateOrder, options.timeZone);

    const std::string file = str(parser.positionalArguments()[0]);
    try {
        auto control = createControl();
        control->df = file;
        control->datano = countRecords(file);
        if (control->datano == 0) {
            throw RuntimeError(kErrSubscript, standardDescription(kErrSubscript) + ": " + file +
                                                  " has no records");
        }
        control->ViewData();
        gui::ReadingsChart chart;
        chart.showReadings(control->Grid(), gui::ReadingsChart::wallClock(clock));
        chart.save(out, size.hasMatch() ? QSize(size.captured(1).toInt(), size.captured(2).toInt())
                                        : QSize(1000, 220 * std::max(1, chart.chartCount())));
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
