#include "transfer_runner.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/capture_file.h>
#include <vantor/data_file.h>

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

#include "console_views.h"
#include "export_command.h"
#include "signal_watch.h"

namespace vantor::cli {

namespace {

const char* outcomeText(TransferOutcome outcome, bool replay) {
    switch (outcome) {
        case TransferOutcome::DeviceLost:
            return replay ? "end of capture" : "device lost";
        case TransferOutcome::EndMarker:
            return "end marker";
        case TransferOutcome::TimedOut:
            return "timeout";
        case TransferOutcome::NotArmed:
            return "not armed (port or data file could not be opened)";
        case TransferOutcome::Aborted:
            return "aborted";
        case TransferOutcome::None:
        case TransferOutcome::Idle:
        case TransferOutcome::Failed:
            break;
    }
    return "error";
}

int exitStatus(const Vantor_Comm& comm) {
    const TransferOutcome outcome = comm.LastTransferOutcome();
    // Records the data file refused are a failure, whatever else ended the transfer.
    if (comm.Stats().recordsLost > 0 && outcome != TransferOutcome::NotArmed) return kExitFailure;
    switch (outcome) {
        case TransferOutcome::EndMarker:
            return comm.fgTransferOK ? kExitOk : kExitFailure;
        case TransferOutcome::TimedOut:
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

    const bool unitFile = !setup.appPath.empty();
    if (unitFile) {
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

    const bool replay = !setup.replayFrom.empty();
    if (replay && sameFile(setup.replayFrom, comm.df)) {
        std::fprintf(stderr,
                     "vantor-comm: the data file %s is the capture %s itself: give the data file "
                     "another name with --data-file FILE\n",
                     comm.df.c_str(),
                     setup.replayFrom == "-" ? "on standard input" : setup.replayFrom.c_str());
        return kExitUsage;
    }

    std::optional<CaptureFile> raw;
    if (!setup.rawFile.empty()) {
        if (sameFile(setup.rawFile, comm.df)) {
            std::fprintf(stderr,
                         "vantor-comm: --raw %s is the data file itself: give the capture "
                         "another name\n",
                         setup.rawFile.c_str());
            return kExitUsage;
        }
        try {
            raw.emplace(setup.rawFile);
        } catch (const RuntimeError& e) {
            printError(e);
            return kExitNotArmed;
        }
    }

    // Without unit names a download's units live only in its bytes: keep
    // them until it is known whether the data file named every unit.
    std::optional<CaptureFile> spare;
    if (!replay && !raw && fileOrNothing(comm.df)) {
        try {
            spare.emplace(comm.df + ".raw", CaptureFile::Temporary{});
        } catch (const RuntimeError&) {
            // The data file's own errors say more, once it is opened.
        }
    }

    std::string kept;
    if (setup.keepEarlier) {
        try {
            kept = keepEarlierDownload(comm.df);
        } catch (const RuntimeError& e) {
            printError(e);
            return kExitNotArmed;
        }
    }

    if (setup.findPort) {
        if (const int status = setup.findPort(comm); status != kExitOk) {
            if (!kept.empty()) ::unlink(kept.c_str());  // the original was never touched
            return status;
        }
    }
    const std::string device = comm.DeviceName();
    std::optional<ConsolePanelView> panel;
    if (setup.showPanel) {
        std::fprintf(stderr, "waiting on %s (port %d)%s\n", device.c_str(), setup.port,
                     setup.device.empty() ? "; --device PATH names another serial device" : "");
    }
    // The panel appears once the port is open: the control's Start says
    // "Press Send Key" before it tries, and a port that never opens must not
    // be shown as waiting for SEND.
    auto showPanel = [&] {
        if (setup.showPanel && !panel) {
            panel.emplace(comm, stderr, ::isatty(STDERR_FILENO) != 0, device);
        }
    };

    QTimer idle;
    idle.setSingleShot(true);
    bool idled = false;
    QObject::connect(&idle, &QTimer::timeout, [&] {
        idled = true;
        comm.AbortTransfer(TransferOutcome::TimedOut);
    });
    comm.onBytesRead = [&](std::string_view bytes) {
        if (raw) raw->append(bytes);
        if (spare) spare->append(bytes);
        showPanel();  // the blocking download's first sign that its port is open
        if (panel) panel->noteBytes();
        if (setup.idleSeconds) idle.start(static_cast<int>(*setup.idleSeconds * 1000));
    };

    QEventLoop events;
    bool ended = false;
    comm.onTransferEnded = [&] {
        ended = true;
        events.quit();
    };
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout,
                     [&] { comm.AbortTransfer(TransferOutcome::TimedOut); });
    if (setup.timeoutSeconds) timeout.start(static_cast<int>(*setup.timeoutSeconds * 1000));

    // A signal before this point leaves the port alone.
    const bool arming = interrupts.received() == 0;
    if (!arming) {
    } else if (setup.blocking) {
        comm.setReadTimeout(std::chrono::milliseconds(0));  // bounded by --timeout alone
        if (setup.onArmed) loop.post(setup.onArmed);
        comm.ReadDataLogger();
    } else {
        comm.Start();
        if (comm.fgComPortOpen) {
            showPanel();
            if (setup.onArmed) loop.post(setup.onArmed);
            if (interrupts.received() != 0) comm.AbortTransfer(TransferOutcome::Aborted);
            if (!ended) events.exec();
        }
    }
    timeout.stop();
    idle.stop();
    if (raw) raw->close();
    if (panel) panel->close();

    const TransferOutcome outcome = comm.LastTransferOutcome();
    const TransferStats& s = comm.Stats();
    std::string spareKept;
    if (spare && (s.unnamedUnits > 0 || s.recordsLost > 0) &&
        outcome != TransferOutcome::NotArmed) {
        spareKept = spare->keepAs(comm.df + ".raw");
    }
    if (spare) spare->discard();
    if ((outcome == TransferOutcome::NotArmed || !arming) && !kept.empty()) {
        // The earlier download is still in place: the copy is not needed.
        ::unlink(kept.c_str());
        kept.clear();
    }
    const int bySignal = outcome == TransferOutcome::Aborted || !arming ? interrupts.received() : 0;
    // Records lost at the end do not hide that the end marker came.
    std::string endedHow = outcome == TransferOutcome::Failed && comm.fgTransferOK
                               ? "end marker"
                               : outcomeText(outcome, replay);
    if (bySignal != 0) {
        endedHow = bySignal == SIGINT   ? "interrupted (SIGINT)"
                   : bySignal == SIGHUP ? "hung up (SIGHUP)"
                                        : "terminated (SIGTERM)";
    } else if (outcome == TransferOutcome::TimedOut && idled) {
        endedHow = "idle (the meter was silent for " + formatNumber(*setup.idleSeconds) + " s)";
    }
    std::fprintf(stderr,
                 "records written: %d, frames received: %lld, frames rejected: %lld, bytes "
                 "skipped: %lld, ended: %s\n",
                 comm.datano, static_cast<long long>(s.framesReceived),
                 static_cast<long long>(s.framesRejected), static_cast<long long>(s.bytesSkipped),
                 endedHow.c_str());
    if (s.recordsLost > 0) {
        std::fprintf(stderr, "records the data file refused: %lld\n",
                     static_cast<long long>(s.recordsLost));
    }
    std::fprintf(stderr, "data file: %s\n", comm.df.c_str());
    if (!kept.empty()) std::fprintf(stderr, "earlier download kept as: %s\n", kept.c_str());
    // Where the bytes of this transfer are, to decode them again.
    const std::string capture = !spareKept.empty()                  ? spareKept
                                : raw && !raw->error()              ? raw->path()
                                : replay && setup.replayFrom != "-" ? setup.replayFrom
                                                                    : "";
    if (s.unnamedUnits > 0) {
        const std::string units = unitFile ? absolute(unitFileName(setup.appPath)) : "";
        std::fprintf(stderr,
                     unitFile ? "note: %s %s a unit that %s does not name; their unit names are "
                                "written as ten NUL characters\n"
                              : "note: %s %s written without a unit name, as no unit file was "
                                "loaded%s\n",
                     counted(s.unnamedUnits, "reading").c_str(),
                     unitFile ? (s.unnamedUnits == 1 ? "has" : "have")
                              : (s.unnamedUnits == 1 ? "was" : "were"),
                     units.c_str());
        const std::string dir = unitFile ? setup.appPath : "DIR";
        if (!capture.empty()) {
            std::fprintf(stderr,
                         "the bytes are kept in %s: once %s/unit2.dat names the units, "
                         "'vantor-comm decode %s --app-path %s --data-file %s' writes the "
                         "records again with their names\n",
                         capture.c_str(), dir.c_str(), capture.c_str(), dir.c_str(),
                         comm.df.c_str());
        } else if (!unitFile) {
            std::fprintf(stderr, "give the folder of unit2.dat with --app-path DIR\n");
        }
    }

    int status = exitStatus(comm);
    std::string failure;
    if (s.recordsLost > 0) {
        failure = counted(s.recordsLost, "record") + (s.recordsLost == 1 ? " is" : " are") +
                  " not in " + comm.df;
    } else if (outcome == TransferOutcome::TimedOut) {
        failure = idled ? "the meter went silent before its end marker"
                        : "the time ran out before the meter's end marker";
    } else if (outcome == TransferOutcome::DeviceLost) {
        failure = replay ? "the capture ended before the meter's end marker"
                         : device + " was lost before the meter's end marker";
    } else if (outcome == TransferOutcome::NotArmed) {
        failure = "the transfer could not start";
    } else if (status != kExitOk) {
        failure = "the transfer ended before the meter's end marker";
    }
    if (!failure.empty() && outcome != TransferOutcome::NotArmed && s.recordsLost == 0) {
        failure += "; " + counted(comm.datano, "record") + " received " +
                   (comm.datano == 1 ? "is" : "are") + " in " + comm.df;
    }
    if (!failure.empty() && comm.LastError()) {
        // Its text is on the lines above, once.
        failure += " (error " + std::to_string(comm.LastError()->number()) + ", above)";
    }
    if (s.recordsLost > 0 && !capture.empty()) {
        failure += "; 'vantor-comm decode " + capture + " --data-file FILE" +
                   (unitFile ? " --app-path " + setup.appPath : std::string()) +
                   "' writes them again from the bytes kept in " + capture;
    }
    if (raw && raw->error()) {
        if (status == kExitOk) status = kExitFailure;
        if (!failure.empty()) failure += "; ";
        failure += "the capture " + raw->path() + " is incomplete (error " +
                   std::to_string(raw->error()->number()) + ": " + raw->error()->description() +
                   ")";
    }
    if (setup.exportFormat && outcome != TransferOutcome::NotArmed && comm.datano > 0) {
        try {
            std::fprintf(stderr, "export: %s\n",
                         exportBeside(comm.df, *setup.exportFormat).c_str());
        } catch (const RuntimeError& e) {
            printError(e);
            if (status == kExitOk) status = kExitFailure;
            if (failure.empty()) failure = "the export beside " + comm.df + " could not be written";
        }
    }
    if (bySignal != 0) return 128 + bySignal;
    // Whatever the panel said last, the last line says what failed.
    if (!failure.empty()) std::fprintf(stderr, "failed: %s\n", failure.c_str());
    if (status == kExitOk && setup.view) {
        if (comm.datano < 1) {
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

}  // namespace vantor::cli
