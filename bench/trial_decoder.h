// A trial of the decoding path with the changes proposed in README.md, kept
// here only to measure them against the product's receiveBytes and
// decodeCells and to check that they behave the very same way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "record/control_record.h"
#include "serial/frame_receiver.h"

namespace vantor::bench {

// Appends the value mantissa x 10^-decimals exactly as appendNumber writes
// the double the decoder computes for it. Falls back to appendNumber when
// the value leaves plain notation.
void appendScaled(std::string& out, bool negative, std::uint64_t mantissa, int decimals);

// decodeCells with the digits written straight into a line buffer: the same
// effects on `pub` and `m`, the same line.
void trialDecodeCells(ControlPublic& pub, ControlPrivate& m, Long sequence, std::string& line);

// receiveBytes with its state in registers and whole frames taken at once:
// the same dispatches, counters and state.
ReceiveResult trialReceiveBytes(ControlPrivate& m, std::string_view bytes,
                                const std::function<void()>& dispatch, ReceiverCounters& counters);

}  // namespace vantor::bench
