// The download policy every host shares.
#include <vantor/data_file.h>
#include <vantor/download.h>
#include <vantor/vantor_comm.h>

#include "files/number_format.h"
#include "platform/file_system.h"

namespace vantor {

namespace {

// "1 record", "2 records".
std::string counted(long long n, const std::string& noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace

Download::Download(Vantor_Comm& control, DownloadSetup setup) : control_(control), setup_(setup) {}

void Download::start() {
    kept_.clear();
    if (setup_.keepEarlier) kept_ = keepEarlierDownload(control_.df);
    if (setup_.blocking) {
        control_.ReadDataLogger();
    } else {
        control_.Start();
    }
    // The earlier download is still in place: its copy is not needed.
    if (control_.LastTransferOutcome() == TransferOutcome::NotArmed) undoKeep();
}

void Download::cancel() {
    undoKeep();
}

void Download::undoKeep() {
    if (kept_.empty()) return;
    removeFile(kept_);
    kept_.clear();
}

DownloadReport Download::report() const {
    DownloadReport r;
    r.outcome = control_.LastTransferOutcome();
    r.endMarker = control_.fgTransferOK != VbFalse;
    r.records = control_.datano;
    r.stats = control_.Stats();
    r.dataFile = control_.df;
    r.device = control_.DeviceName();
    r.kept = kept_;
    r.error = control_.LastError();
    r.idleTimeout = control_.idleTimeout();
    r.replay = setup_.replay;
    return r;
}

const char* outcomeName(TransferOutcome outcome) {
    switch (outcome) {
        case TransferOutcome::EndMarker:
            return "end marker";
        case TransferOutcome::DeviceLost:
            return "device lost";
        case TransferOutcome::Idle:
            return "idle";
        case TransferOutcome::TimedOut:
            return "timeout";
        case TransferOutcome::Aborted:
            return "aborted";
        case TransferOutcome::Failed:
            return "records lost";
        case TransferOutcome::NotArmed:
            return "not armed";
        case TransferOutcome::None:
            break;
    }
    return "error";
}

std::string endedText(const DownloadReport& r) {
    switch (r.outcome) {
        case TransferOutcome::DeviceLost:
            return r.replay ? "end of capture" : "device lost";
        case TransferOutcome::Idle:
            return "idle (the meter was silent for " +
                   formatNumber(static_cast<double>(r.idleTimeout.count()) / 1000) + " s)";
        case TransferOutcome::NotArmed:
            return "not armed (port or data file could not be opened)";
        case TransferOutcome::Failed:
            // Records lost at the end do not hide that the end marker came.
            return r.endMarker ? "end marker" : "error";
        default:
            return outcomeName(r.outcome);
    }
}

std::string failureText(const DownloadReport& r) {
    std::string failure;
    const long long lost = r.stats.recordsLost;
    if (lost > 0) {
        failure = counted(lost, "record") + (lost == 1 ? " is" : " are") + " not in " + r.dataFile;
    } else if (r.outcome == TransferOutcome::TimedOut) {
        failure = "the time ran out before the meter's end marker";
    } else if (r.outcome == TransferOutcome::Idle) {
        failure = "the meter went silent before its end marker";
    } else if (r.outcome == TransferOutcome::DeviceLost) {
        failure = r.replay ? "the capture ended before the meter's end marker"
                           : r.device + " was lost before the meter's end marker";
    } else if (r.outcome == TransferOutcome::NotArmed) {
        failure = "the transfer could not start";
    } else if (r.outcome != TransferOutcome::EndMarker || !r.endMarker) {
        failure = "the transfer ended before the meter's end marker";
    }
    if (!failure.empty() && r.outcome != TransferOutcome::NotArmed && lost == 0) {
        failure += "; " + counted(r.records, "record") + " received " +
                   (r.records == 1 ? "is" : "are") + " in " + r.dataFile;
    }
    // Its text is on the lines above, once.
    if (!failure.empty() && r.error) {
        failure += " (error " + std::to_string(r.error->number()) + ", above)";
    }
    return failure;
}

}  // namespace vantor
