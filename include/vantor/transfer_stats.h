// How a transfer went: its diagnostics, counted beside the control record,
// and how it ended.
#pragma once

#include <vantor/data_file.h>
#include <vantor/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vantor {

// How the last transfer ended (an addition for hosts on this platform; the
// control record itself only has fgTransferOK).
enum class TransferOutcome {
    None,        // no transfer yet, or one is running
    NotArmed,    // the port or the data file could not be opened
    EndMarker,   // the meter's end marker arrived: fgTransferOK is set
    TimedOut,    // the meter stopped sending (blocking download's time-out)
    DeviceLost,  // the serial device went away or failed mid-transfer
    Failed,      // another error ended the transfer, or records were lost
                 // although the end marker came
    Aborted,     // the host ended it with AbortTransfer
    Idle,        // the meter, having begun, was silent for the idle time-out
};

// Diagnostics of a transfer; they change nothing the control record holds.
// 64-bit, as a long capture passes 2^31 bytes.
struct TransferStats {
    std::int64_t framesReceived = 0;  // complete frames taken from the line
    std::int64_t framesRejected = 0;  // frames dropped for a bad terminator
    std::int64_t bytesSkipped = 0;    // bytes between frames
    std::int64_t recordsLost = 0;     // decoded records the data file refused (disk full, ...)
    std::int64_t unnamedUnits = 0;    // extended readings written with a unit no unit file named
};

// One record as it was written to the data file: what the control's
// onRecordWritten hands a host, valid for the call only.
struct RecordWritten {
    Long sequence = 0;       // the record's number, its first item in the file
    bool timeStamp = false;  // a time stamp (stamp), else a reading
    std::string_view stamp;  // a time stamp's twelve digits, as sent
    double value = 0;        // 999999 when the meter sent no digits
    Integer unitCode = 0;
    Integer channel = 0;    // 0 for a time stamp
    std::string_view line;  // the line written, without its line end
    DataRecord items;       // its four items, as the data file's reader reads them
};

}  // namespace vantor
