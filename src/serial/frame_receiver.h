// The event-driven receiver: cuts the meter's byte stream into frames.
#pragma once

#include <vantor/transfer_stats.h>

#include <cstddef>
#include <string_view>

#include "record/control_record.h"

namespace vantor {

enum class ReceiveResult {
    NeedMore,       // every byte has been examined
    Frame,          // a frame whose 16th byte is CR is in vFrameBuf 1..15
    TransferEnded,  // the 28th ESC byte: the rest of the read is left unexamined
};

// Runs the receiver over `bytes` from `at` on, in order, and stops after the
// byte that completes a frame (Frame: hand it to the decoder, then call again
// with the same `at` to go on), after the 28th ESC, or at the end of the
// bytes. A frame with a bad terminator is dropped and hunting resumes at the
// byte that failed the test, so later frames of the same read are kept.
// Counts frames and skipped bytes into `stats`.
ReceiveResult receiveBytes(ControlPrivate& m, std::string_view bytes, std::size_t& at,
                           TransferStats& stats);

}  // namespace vantor
