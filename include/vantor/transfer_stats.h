// How a transfer went: its diagnostics, counted beside the control record,
// and how it ended.
#pragma once

#include <vantor/types.h>

namespace vantor {

// How the last transfer ended (an addition for hosts on this platform; the
// control record itself only has fgTransferOK).
enum class TransferOutcome {
    None,        // no transfer yet, or one is running
    NotArmed,    // the port or the data file could not be opened
    EndMarker,   // the meter's end marker arrived: fgTransferOK is set
    TimedOut,    // the meter stopped sending (blocking download's time-out)
    DeviceLost,  // the serial device went away or failed mid-transfer
    Failed,      // another error ended the transfer
    Aborted,     // the host ended it with AbortTransfer
};

// Diagnostics of a transfer; they change nothing the control record holds.
struct TransferStats {
    Long framesReceived = 0;  // complete frames taken from the line
    Long framesRejected = 0;  // frames dropped for a bad terminator
    Long bytesSkipped = 0;    // bytes between frames
    Long recordsLost = 0;     // decoded records the data file refused (disk full, ...)
    Long unnamedUnits = 0;    // extended readings written with a unit no unit file named
};

}  // namespace vantor
