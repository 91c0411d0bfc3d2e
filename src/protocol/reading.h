// What one frame says: a time stamp or a reading, decoded from its cells.
#pragma once

#include <vantor/types.h>

#include <string>

#include "protocol/frame.h"

namespace vantor {

// The value the meter sends when a reading has no digits (an overload).
inline constexpr double kInvalidValue = 999999;

struct Reading {
    enum class Kind { TimeStamp, Extended, Simple };
    Kind kind = Kind::Simple;
    Integer unitCode = 0;  // also set for a time stamp, as the cells give it
    Integer channel = 0;   // 0 for a time stamp
    double value = 0;      // kInvalidValue when the meter sent no digits
    std::string stamp;     // a time stamp's twelve digits, as sent

    // The value as the meter sent it: (negative ? -1 : 1) * digits / 10^scale,
    // so that its text never goes through binary.
    bool negative = false;
    long long digits = 0;
    int scale = 0;
};

// Decodes the frame in `cells`.
Reading decodeReading(const Cells& cells);

}  // namespace vantor
