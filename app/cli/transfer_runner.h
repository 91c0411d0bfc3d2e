// Runs one download (or the replay of a capture) through the control, with
// the console panel and the end-of-transfer summary.
#pragma once

#include <vantor/backends.h>
#include <vantor/export.h>
#include <vantor/vantor_comm.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "exit_status.h"

namespace vantor::cli {

struct TransferSetup {
    std::unique_ptr<SerialBackend> backend;
    Integer port = 1;
    std::string device;    // empty: the platform's default name for the port
    std::string appPath;   // empty: no unit file
    std::string dataFile;  // empty: the day's file in appPath or in .
    bool blocking = false;
    std::optional<double> timeoutSeconds;
    // Once the meter has sent something, end the transfer when it has been
    // silent this long.
    std::optional<double> idleSeconds;
    // An earlier download in the data file is kept as FILE.N (download
    // without --overwrite).
    bool keepEarlier = false;
    std::string rawFile;  // empty: no capture
    bool view = false;
    // Once the transfer has ended, its readings beside the data file.
    std::optional<ExportFormat> exportFormat;
    bool showPanel = true;
    // The capture replayed as the line ("-": standard input), or empty for a
    // real line: its end is not a lost device, and it may not be the data file.
    std::string replayFrom;
    // Looks for the meter's port once the files are in order and before the
    // transfer is armed (download --device auto or GLOB): sets the device
    // port N stands for, or returns the exit status to end with.
    std::function<int(Vantor_Comm&)> findPort;
    // Runs from the event loop once the transfer is armed (the demo's meter
    // presses SEND then).
    std::function<void()> onArmed;
};

// Returns the program's exit status; 128 + the signal when SIGINT, SIGTERM
// or SIGHUP ended the transfer (every record kept, the summary printed).
int runTransfer(TransferSetup setup, MessageLoop& loop);

// "error NUMBER: DESCRIPTION" on standard error.
void printError(const RuntimeError& e);

}  // namespace vantor::cli
