#include "transfer_runner.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/capture_file.h>
#include <vantor/data_file.h>
#include <vantor/download.h>

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <cstdio>

#include "console_views.h"
#include "export_command.h"
#include "signal_watch.h"

namespace vantor::cli {

namespace {

int exitStatus(const DownloadReport& r) {
    // Records the data file refused are a failure, whatever else ended the transfer.
    if (r.stats.recordsLost > 0 && r.outcome != TransferOutcome::NotArmed) return kExitFailure;
    switch (r.outcome) {
        case TransferOutcome::EndMarker:
            return r.endMarker ? kExitOk : kExitFailure;
        case TransferOutcome::TimedOut:
        case TransferOutcome::Idle:
            return kExitTimeout;
        case TransferOutcome::NotArmed:
            return kExitNotArmed;
        case TransferOutcome::DeviceLost:
            return kExitDeviceLost;
        default:
            return kExitFailure;
    }
}

std::string absolute(const std::string& path) {
    return QFileInfo(QString::fromLocal8Bit(path.c_str()))
        .absoluteFilePath()
        .toLocal8Bit()
        .toStdString();
}

// The same file, whether or not it exists yet ("-" is standard input).
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    const bool aThere = a == "-" ? ::fstat(STDIN_FILENO, &sa) == 0 : ::stat(a.c_str(), &sa) == 0;
    if (aThere && ::stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    return a != "-" && QDir::cleanPath(QString::fromStdString(absolute(a))) ==
                           QDir::cleanPath(QString::fromStdString(absolute(b)));
}

// A regular file (or one not yet made) can have a capture beside it; a
// device cannot.
bool fileOrNothing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode);
}

// "1 reading", "2 readings".
std::string counted(long long n, const std::string& noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

void printUnitFileError(const RuntimeError& e, const std::string& folder) {
    const std::string unitFile = absolute(unitFileName(folder));
    if (e.description().find("unit2.dat") != std::string::npos) {
        printError(e);
    } else {
        std::fprintf(stderr, "error %d: %s in the unit file %s\n", e.number(),
                     e.description().c_str(), unitFile.c_str());
    }
    if (e.number() == kErrFileNotFound || e.number() == kErrPathNotFound) {
        std::fprintf(stderr,
                     "the unit file %s names the meter's units: create it there, or give the "
                     "folder that holds unit2.dat with --app-path DIR\n",
                     unitFile.c_str());
    }
}

// The files a transfer's bytes go to besides the data file.
struct Taps {
    std::optional<CaptureFile> raw;    // --raw
    std::optional<CaptureFile> spare;  // kept when the data file lacks unit names
    std::string spareKept;
};

// Loads the unit file and names the data file; a status when that failed.
std::optional<int> nameFiles(const TransferSetup& setup, Vantor_Comm& comm,
                             const DateSource& dates) {
    if (!setup.appPath.empty()) {
        comm.AppPath(setup.appPath);
        try {
            comm.ReadUnitFile();
        } catch (const RuntimeError& e) {
            printUnitFileError(e, setup.appPath);
            return kExitFailure;
        }
    } else {
        comm.df = dataFileName(".", dates.today());
    }
    if (!setup.dataFile.empty()) comm.df = setup.dataFile;
    if (!setup.replayFrom.empty() && sameFile(setup.replayFrom, comm.df)) {
        std::fprintf(stderr,
                     "vantor-comm: the data file %s is the capture %s itself: give the data file "
                     "another name with --data-file FILE\n",
                     comm.df.c_str(),
                     setup.replayFrom == "-" ? "on standard input" : setup.replayFrom.c_str());
        return kExitUsage;
    }
    return std::nullopt;
}

// Opens the capture and the spare; a status when the capture cannot be made.
std::optional<int> openTaps(const TransferSetup& setup, const Vantor_Comm& comm, Taps& taps) {
    if (!setup.rawFile.empty()) {
        if (sameFile(setup.rawFile, comm.df)) {
            std::fprintf(stderr,
                         "vantor-comm: --raw %s is the data file itself: give the capture "
                         "another name\n",
                         setup.rawFile.c_str());
            return kExitUsage;
        }
        try {
            taps.raw.emplace(setup.rawFile);
        } catch (const RuntimeError& e) {
            printError(e);
            return kExitNotArmed;
        }
    }
    // Without unit names a download's units live only in its bytes: keep
    // them until it is known whether the data file named every unit.
    if (setup.replayFrom.empty() && !taps.raw && fileOrNothing(comm.df)) {
        try {
            taps.spare.emplace(comm.df + ".raw", CaptureFile::Temporary{});
        } catch (const RuntimeError&) {
            // The data file's own errors say more, once it is opened.
        }
    }
    return std::nullopt;
}

void closeTaps(Taps& taps, const DownloadReport& r) {
    if (taps.raw) taps.raw->close();
    if (taps.spare && (r.stats.unnamedUnits > 0 || r.stats.recordsLost > 0) &&
        r.outcome != TransferOutcome::NotArmed) {
        taps.spareKept = taps.spare->keepAs(r.dataFile + ".raw");
    }
    if (taps.spare) taps.spare->discard();
}

void printUnnamedUnits(const TransferSetup& setup, const DownloadReport& r,
                       const std::string& capture) {
    const bool unitFile = !setup.appPath.empty();
    const long long n = r.stats.unnamedUnits;
    const std::string units = unitFile ? absolute(unitFileName(setup.appPath)) : "";
    std::fprintf(stderr,
                 unitFile ? "note: %s %s a unit that %s does not name; their unit names are "
                            "written as ten NUL characters\n"
                          : "note: %s %s written without a unit name, as no unit file was "
                            "loaded%s\n",
                 counted(n, "reading").c_str(),
                 unitFile ? (n == 1 ? "has" : "have") : (n == 1 ? "was" : "were"), units.c_str());
    const std::string dir = unitFile ? setup.appPath : "DIR";
    if (!capture.empty()) {
        std::fprintf(stderr,
                     "the bytes are kept in %s: once %s/unit2.dat names the units, "
                     "'vantor-comm decode %s --app-path %s --data-file %s' writes the "
                     "records again with their names\n",
                     capture.c_str(), dir.c_str(), capture.c_str(), dir.c_str(),
                     r.dataFile.c_str());
    } else if (!unitFile) {
        std::fprintf(stderr, "give the folder of unit2.dat with --app-path DIR\n");
    }
}

// The end-of-transfer summary, the export and the view; returns the status.
int finish(const TransferSetup& setup, Vantor_Comm& comm, const DownloadReport& r, const Taps& taps,
           int bySignal) {
    const TransferStats& s = r.stats;
    std::string endedHow = endedText(r);
    if (bySignal != 0) {
        endedHow = bySignal == SIGINT   ? "interrupted (SIGINT)"
                   : bySignal == SIGHUP ? "hung up (SIGHUP)"
                                        : "terminated (SIGTERM)";
    }
    std::fprintf(stderr,
                 "records written: %d, frames received: %lld, frames rejected: %lld, bytes "
                 "skipped: %lld, ended: %s\n",
                 r.records, static_cast<long long>(s.framesReceived),
                 static_cast<long long>(s.framesRejected), static_cast<long long>(s.bytesSkipped),
                 endedHow.c_str());
    if (s.recordsLost > 0) {
        std::fprintf(stderr, "records the data file refused: %lld\n",
                     static_cast<long long>(s.recordsLost));
    }
    std::fprintf(stderr, "data file: %s\n", r.dataFile.c_str());
    if (!r.kept.empty()) std::fprintf(stderr, "earlier download kept as: %s\n", r.kept.c_str());
    // Where the bytes of this transfer are, to decode them again.
    const auto& raw = taps.raw;
    const std::string capture = !taps.spareKept.empty()               ? taps.spareKept
                                : raw && !raw->error()                ? raw->path()
                                : r.replay && setup.replayFrom != "-" ? setup.replayFrom
                                                                      : "";
    if (s.unnamedUnits > 0) printUnnamedUnits(setup, r, capture);

    int status = exitStatus(r);
    std::string failure = failureText(r);
    if (s.recordsLost > 0 && !capture.empty()) {
        failure += "; 'vantor-comm decode " + capture + " --data-file FILE" +
                   (setup.appPath.empty() ? std::string() : " --app-path " + setup.appPath) +
                   "' writes them again from the bytes kept in " + capture;
    }
    if (raw && raw->error()) {
        if (status == kExitOk) status = kExitFailure;
        if (!failure.empty()) failure += "; ";
        failure += "the capture " + raw->path() + " is incomplete (error " +
                   std::to_string(raw->error()->number()) + ": " + raw->error()->description() +
                   ")";
    }
    if (setup.exportFormat && r.outcome != TransferOutcome::NotArmed && r.records > 0) {
        try {
            std::fprintf(stderr, "export: %s\n",
                         exportBeside(r.dataFile, *setup.exportFormat).c_str());
        } catch (const RuntimeError& e) {
            printError(e);
            if (status == kExitOk) status = kExitFailure;
            if (failure.empty())
                failure = "the export beside " + r.dataFile + " could not be written";
        }
    }
    if (bySignal != 0) return 128 + bySignal;
    // Whatever the panel said last, the last line says what failed.
    if (!failure.empty()) std::fprintf(stderr, "failed: %s\n", failure.c_str());
    if (status == kExitOk && setup.view) {
        if (r.records < 1) {
            std::fprintf(stderr, "no records to view\n");
        } else {
            try {
                comm.ViewData();
                printGrid(comm.Grid(), stdout, false);
            } catch (const RuntimeError& e) {
                printError(e);
                status = kExitFailure;
            }
        }
    }
    return status;
}

std::chrono::milliseconds millis(const std::optional<double>& seconds) {
    return std::chrono::milliseconds(seconds ? static_cast<long long>(*seconds * 1000) : 0);
}

}  // namespace

void printError(const RuntimeError& e) {
    std::fprintf(stderr, "error %d: %s\n", e.number(), e.description().c_str());
}

int runTransfer(TransferSetup setup, MessageLoop& loop) {
    ConsoleMessageSink messages;
    LocalDateSource dates;
    Vantor_Comm comm(ControlPlatform{loop, messages, dates, std::move(setup.backend)});
    comm.UserControl_Resize();
    comm.Port(setup.port);
    if (!setup.device.empty()) comm.Ports().set(setup.port, setup.device);
    // From here on a signal ends the download with its summary, and the
    // temporary files go (SIGHUP too: a closed terminal or ssh session).
    SignalWatch interrupts([&](int) { comm.AbortTransfer(TransferOutcome::Aborted); }, true);

    if (const auto status = nameFiles(setup, comm, dates)) return *status;
    Taps taps;
    if (const auto status = openTaps(setup, comm, taps)) return *status;
    if (setup.findPort) {
        if (const int status = setup.findPort(comm); status != kExitOk) return status;
    }
    const std::string device = comm.DeviceName();
    if (setup.showPanel) {
        std::fprintf(stderr, "waiting on %s (port %d)%s\n", device.c_str(), setup.port,
                     setup.device.empty() ? "; --device PATH names another serial device" : "");
    }
    // The panel appears once the port is open: the control's Start says
    // "Press Send Key" before it tries, and a port that never opens must not
    // be shown as waiting for SEND.
    std::optional<ConsolePanelView> panel;
    auto showPanel = [&] {
        if (setup.showPanel && !panel)
            panel.emplace(comm, stderr, ::isatty(STDERR_FILENO) != 0, device);
    };
    comm.onBytesRead = [&](std::string_view bytes) {
        if (taps.raw) taps.raw->append(bytes);
        if (taps.spare) taps.spare->append(bytes);
        showPanel();  // the blocking download's first sign that its port is open
        if (panel) panel->noteBytes();
    };
    QEventLoop events;
    bool ended = false;
    comm.onTransferEnded = [&] {
        ended = true;
        events.quit();
    };
    comm.setIdleTimeout(millis(setup.idleSeconds));
    comm.setTransferTimeout(millis(setup.timeoutSeconds));
    if (setup.blocking)
        comm.setReadTimeout(std::chrono::milliseconds(0));  // bounded by the limits alone
    Download download(comm, {setup.blocking, setup.keepEarlier, !setup.replayFrom.empty()});

    // A signal before this point leaves the port alone.
    const bool arming = interrupts.received() == 0;
    if (arming) {
        if (setup.blocking && setup.onArmed) loop.post(setup.onArmed);
        try {
            download.start();
        } catch (const RuntimeError& e) {
            printError(e);
            return kExitNotArmed;
        }
        if (!setup.blocking && comm.fgComPortOpen) {
            showPanel();
            if (setup.onArmed) loop.post(setup.onArmed);
            if (interrupts.received() != 0) comm.AbortTransfer(TransferOutcome::Aborted);
            if (!ended) events.exec();
        }
    }
    if (panel) panel->close();
    const DownloadReport report = download.report();
    closeTaps(taps, report);
    const bool bySignal = report.outcome == TransferOutcome::Aborted || !arming;
    return finish(setup, comm, report, taps, bySignal ? interrupts.received() : 0);
}

}  // namespace vantor::cli
