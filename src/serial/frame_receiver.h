// The event-driven receiver: cuts the meter's byte stream into frames.
#pragma once

#include <functional>
#include <string_view>

#include "record/control_record.h"

namespace vantor {

// Diagnostics beside the control record; they change nothing it holds.
struct ReceiverCounters {
    Long framesReceived = 0;  // frames with a CR terminator
    Long framesRejected = 0;  // frames whose 16th byte was not CR
    Long bytesSkipped = 0;    // bytes met while hunting that were not a start byte
};

enum class ReceiveResult { Continue, TransferEnded };

inline constexpr Byte kEsc = 27;
inline constexpr int kEscStopRecords = 14;
inline constexpr int kEscEndTransfer = 28;

// Runs the receiver over the bytes of one read, in order. `dispatch` is
// called once per frame whose 16th byte is CR, with the frame in vFrameBuf
// positions 1..15. A frame with a bad terminator is dropped and hunting
// resumes at the byte that failed the test, so later frames of the same read
// are kept. Returns TransferEnded at the 28th ESC byte; the rest of the read
// is then left unexamined.
ReceiveResult receiveBytes(ControlPrivate& m, std::string_view bytes,
                           const std::function<void()>& dispatch, ReceiverCounters& counters);

}  // namespace vantor
