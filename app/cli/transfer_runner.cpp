#include "transfer_runner.h"

#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <cstdio>

#include "console_views.h"
#include "files/unit_file.h"

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

    if (!setup.appPath.empty()) {
        comm.AppPath(setup.appPath);
        try {
            comm.ReadUnitFile();
        } catch (const RuntimeError& e) {
            printError(e);
            return kExitFailure;
        }
    } else {
        comm.df = dataFileName(".", dates.today());
    }
    if (!setup.dataFile.empty()) comm.df = setup.dataFile;

    std::FILE* raw = nullptr;
    if (!setup.rawFile.empty()) {
        raw = std::fopen(setup.rawFile.c_str(), "ab");
        if (raw == nullptr) {
            std::fprintf(stderr, "cannot open the capture file %s\n", setup.rawFile.c_str());
            return kExitNotArmed;
        }
    }

    std::optional<ConsolePanelView> panel;
    if (setup.showPanel) panel.emplace(comm, stderr, ::isatty(STDERR_FILENO) != 0);
    comm.onBytesRead = [&](std::string_view bytes) {
        if (raw != nullptr) {
            // Each read reaches the file at once: a capture survives a crash.
            std::fwrite(bytes.data(), 1, bytes.size(), raw);
            std::fflush(raw);
        }
        if (panel) panel->noteBytes();
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

    if (setup.blocking) {
        comm.setReadTimeout(std::chrono::milliseconds(0));  // bounded by --timeout alone
        if (setup.onArmed) loop.post(setup.onArmed);
        comm.ReadDataLogger();
    } else {
        comm.Start();
        if (comm.fgComPortOpen) {
            if (setup.onArmed) loop.post(setup.onArmed);
            if (!ended) events.exec();
        }
    }
    timeout.stop();
    if (raw != nullptr) std::fclose(raw);
    if (panel) panel->close();

    const TransferStats& s = comm.Stats();
    std::fprintf(stderr,
                 "records written: %d, frames received: %d, frames rejected: %d, bytes skipped: "
                 "%d, ended: %s\n",
                 comm.datano, s.framesReceived, s.framesRejected, s.bytesSkipped,
                 outcomeText(comm.LastTransferOutcome(), setup.replay));
    if (s.recordsLost > 0) {
        std::fprintf(stderr, "records the data file refused: %d\n", s.recordsLost);
    }
    std::fprintf(stderr, "data file: %s\n", comm.df.c_str());

    int status = exitStatus(comm);
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
