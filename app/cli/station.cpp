#include "station.h"

#include <signal.h>
#include <station/station.h>
#include <vantor/qt_platform.h>

#include <QCommandLineParser>
#include <cstdio>
#include <ctime>
#include <string>

#include "arguments.h"
#include "exit_status.h"
#include "signal_watch.h"

namespace vantor::cli {

namespace {

std::string str(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// A device or link name may hold a newline: escaped, it cannot pass for a
// line of its own.
std::string escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// One line per event, with the time: journald keeps it.
void log(const std::string& text) {
    const std::string line = station::iso(std::time(nullptr)) + " station: " + escaped(text) + "\n";
    // The site's sender logs from its own thread: one write is one line.
    ::flockfile(stderr);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    ::funlockfile(stderr);
}

}  // namespace

int stationCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Stays armed on every matching serial port and files each transfer in an archive, with "
        "an index of downloads (SQLite).");
    parser.addOptions({
        {"archive", "The archive folder: DIR/<device>/<UTC start>.dat, and DIR/index.sqlite.",
         "DIR"},
        {"device", "A device or a pattern with wildcards (repeatable); default: every serial port.",
         "GLOB"},
        {"app-path", "Folder of unit2.dat.", "DIR"},
        {"idle", "End a transfer when the meter, having begun, is silent this long.", "SECONDS"},
        {"exec",
         "Run CMD after each download (VANTOR_FILE, VANTOR_DEVICE, VANTOR_OUTCOME, "
         "VANTOR_RECORDS in its environment).",
         "CMD"},
        {"database",
         "Also put every download and its readings into this database: "
         "postgresql://user@host:port/db or sqlite:PATH.",
         "URL"},
    });
    if (auto stop = parseArguments(parser, args, 0)) return *stop;
    station::StationOptions options;
    options.archive = str(parser.value("archive"));
    if (options.archive.empty()) {
        std::fprintf(stderr, "--archive: give the folder the downloads go to\n");
        return kExitUsage;
    }
    for (const QString& d : parser.values("device")) options.patterns.push_back(str(d));
    if (options.patterns.empty()) options.patterns.push_back("auto");
    options.appPath = str(parser.value("app-path"));
    if (parser.isSet("idle")) {
        options.idleSeconds = numberOption(parser, "idle", 0.001, 2e6, false);
        if (!options.idleSeconds) return kExitUsage;
    }
    options.exec = str(parser.value("exec"));
    options.database = str(parser.value("database"));
    if (const std::string problem = station::SiteDatabase::urlProblem(
            options.database, options.archive + "/" + station::kIndex);
        !options.database.empty() && !problem.empty()) {
        std::fprintf(stderr, "--database: %s\n", problem.c_str());
        return kExitUsage;
    }
    options.log = log;
    try {
        station::Station station(std::move(options), qtMessageLoop());
        // Before anything else: a SIGTERM during recovery must end it cleanly too.
        SignalWatch watch(
            [&station](int signal) {
                if (signal == SIGHUP) {
                    station.rescan(true);
                } else {
                    station.stop();
                }
            },
            true);
        return station.run();
    } catch (const RuntimeError& e) {
        std::fprintf(stderr, "error %d: %s\n", e.number(), escaped(e.description()).c_str());
        return kExitFailure;
    }
}

}  // namespace vantor::cli
