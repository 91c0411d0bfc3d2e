#include "transfer_runner.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

#include "capture_file.h"
#include "console_views.h"
#include "earlier_download.h"
#include "files/unit_file.h"
#include "platform/number_format.h"
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
        case TransferOutcome::Failed:
            break;
    }
    return "error";
}

int exitStatus(const Vantor_Comm& comm) {
    switch (comm.LastTransferOutcome()) {
        case TransferOutcome::EndMarker:
            // Records the data file refused are a failure, even with the end marker in.
            return comm.fgTransferOK && comm.Stats().recordsLost == 0 ? kExitOk : kExitFailure;
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

// The same file, whether or not it exists yet.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    return QDir::cleanPath(QString::fromStdString(absolute(a))) ==
           QDir::cleanPath(QString::fromStdString(absolute(b)));
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

    std::string kept;
    if (setup.keepEarlier) {
        try {
            kept = keepEarlierDownload(comm.df);
        } catch (const RuntimeError& e) {
            printError(e);
            return kExitNotArmed;
        }
    }

    const std::string device = comm.DeviceName();
    std::optional<ConsolePanelView> panel;
    if (setup.showPanel) {
        std::fprintf(stderr, "waiting on %s (port %d)%s\n", device.c_str(), setup.port,
                     setup.device.empty() ? "; --device PATH names another serial device" : "");
        panel.emplace(comm, stderr, ::isatty(STDERR_FILENO) != 0, device);
    }

    QTimer idle;
    idle.setSingleShot(true);
    bool idled = false;
    QObject::connect(&idle, &QTimer::timeout, [&] {
        idled = true;
        comm.AbortTransfer(TransferOutcome::TimedOut);
    });
    comm.onBytesRead = [&](std::string_view bytes) {
        if (raw) raw->append(bytes);
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
    SignalWatch interrupts([&](int) { comm.AbortTransfer(TransferOutcome::Aborted); });

    if (setup.blocking) {
        comm.setReadTimeout(std::chrono::milliseconds(0));  // bounded by --timeout alone
        if (setup.onArmed) loop.post(setup.onArmed);
        comm.ReadDataLogger();
    } else {
        comm.Start();
        if (comm.fgComPortOpen) {
            if (setup.onArmed) loop.post(setup.onArmed);
            if (!ended && interrupts.received() == 0) events.exec();
        }
    }
    timeout.stop();
    idle.stop();
    if (raw) raw->close();
    if (panel) panel->close();

    const TransferOutcome outcome = comm.LastTransferOutcome();
    if (outcome == TransferOutcome::NotArmed && !kept.empty()) {
        // The earlier download is still in place: the copy is not needed.
        ::unlink(kept.c_str());
        kept.clear();
    }
    const TransferStats& s = comm.Stats();
    const int bySignal = outcome == TransferOutcome::Aborted ? interrupts.received() : 0;
    std::string endedHow = outcomeText(outcome, setup.replay);
    if (bySignal != 0) {
        endedHow = bySignal == SIGINT ? "interrupted (SIGINT)" : "terminated (SIGTERM)";
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
    if (s.unnamedUnits > 0 && unitFile) {
        std::fprintf(stderr,
                     "note: %lld readings have a unit that %s does not name; their unit names are "
                     "written as ten NUL characters\n",
                     static_cast<long long>(s.unnamedUnits), absolute(unitFileName(setup.appPath)).c_str());
    } else if (s.unnamedUnits > 0) {
        std::fprintf(stderr,
                     "note: %lld readings were written without a unit name, as no unit file was "
                     "loaded; give the folder of unit2.dat with --app-path DIR\n",
                     static_cast<long long>(s.unnamedUnits));
    }

    int status = exitStatus(comm);
    if (raw && raw->error()) {
        printError(*raw->error());
        std::fprintf(stderr, "the capture %s is incomplete\n", raw->path().c_str());
        if (status == kExitOk) status = kExitFailure;
    }
    if (bySignal != 0) return 128 + bySignal;
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
