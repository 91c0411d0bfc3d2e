// One download with the policy every host shares: an earlier download kept
// as FILE.N first, the transfer run on a control, and a report of how it
// went, worded once for every host.
//
//     vantor::Download download(*control, {.keepEarlier = true});
//     control->setIdleTimeout(std::chrono::seconds(5));
//     download.start();  // armed (or, blocking, already over)
//     ...                // the loop runs until control->onTransferEnded
//     const vantor::DownloadReport r = download.report();
//     std::fprintf(stderr, "ended: %s\n", vantor::endedText(r).c_str());
#pragma once

#include <vantor/errors.h>
#include <vantor/transfer_stats.h>
#include <vantor/types.h>

#include <chrono>
#include <optional>
#include <string>

namespace vantor {

class Vantor_Comm;

struct DownloadSetup {
    // ReadDataLogger, which returns at the end, instead of Start.
    bool blocking = false;
    // An earlier download in df is copied to df.N (the lowest free N) before
    // the transfer empties df; the copy is removed again when the transfer
    // cannot arm, as df was never touched.
    bool keepEarlier = false;
    // The line is a capture being replayed: its end is not a lost device.
    bool replay = false;
};

// How a download went.
struct DownloadReport {
    TransferOutcome outcome = TransferOutcome::None;
    bool endMarker = false;  // the meter's end marker came (fgTransferOK)
    Long records = 0;        // records in the data file (datano)
    TransferStats stats;     // frames, rejects, skipped bytes, records lost
    std::string dataFile;
    std::string device;
    std::string kept;                   // where the earlier download was kept; empty: nowhere
    std::optional<RuntimeError> error;  // the error its message box showed
    std::chrono::milliseconds idleTimeout{0};
    bool replay = false;
};

class Download {
  public:
    Download(Vantor_Comm& control, DownloadSetup setup);
    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;

    // Keeps the earlier download (its error is thrown, with nothing armed),
    // then arms the control. A blocking download returns at its end.
    void start();
    // The earlier download's copy, made before a start that could not go
    // ahead, is removed.
    void cancel();
    DownloadReport report() const;

  private:
    void undoKeep();

    Vantor_Comm& control_;
    DownloadSetup setup_;
    std::string kept_;
};

// The outcome's name where a single word or two is stored or passed on (an
// index's outcome column, a program's environment): "end marker", "device
// lost", "idle", "timeout", "aborted", "records lost", "not armed", "error".
const char* outcomeName(TransferOutcome outcome);

// How the transfer ended, for a summary line: the outcome's name, with the
// idle time-out ("idle (the meter was silent for 5 s)"), "end of capture"
// for a replay, and "end marker" when records were lost after it came.
std::string endedText(const DownloadReport& report);

// What failed, for a host's last line; empty when nothing did. The records
// kept and where are said with it, and the error's number when one was shown.
std::string failureText(const DownloadReport& report);

}  // namespace vantor
