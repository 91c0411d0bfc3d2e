// The meter's frame as a value: 16 bytes, start byte 2, 14 body bytes,
// terminator CR; and the digit cells the decoder reads it through.
#pragma once

#include <vantor/types.h>

#include <array>

namespace vantor {

using Frame = std::array<Byte, 16>;
// cells[k] holds the digit value of frame byte 15 - k.
using Cells = std::array<Integer, 16>;

inline constexpr Byte kStartByte = 2;
inline constexpr Byte kCr = 13;
// The meter's end marker: ESC bytes counted over a transfer; from the 14th
// on frames are no longer written, the 28th ends the transfer.
inline constexpr Byte kEsc = 27;
inline constexpr int kEscStopRecords = 14;
inline constexpr int kEscEndTransfer = 28;

// Digit value of a frame byte as the event-driven receiver takes it: bytes
// from '0' up lose 48, control bytes keep their own value.
inline Integer digitValue(Byte b) {
    return b >= 48 ? static_cast<Integer>(b - 48) : b;
}
// Hex adjustment: the letters A to F (17 to 22 after digitValue) become 10 to 15.
inline Integer hexAdjust(Integer x) {
    return x > 9 ? static_cast<Integer>(x - 7) : x;
}

// The cells of a frame the event-driven receiver completed.
inline Cells cellsOf(const Frame& frame) {
    Cells cells{};
    for (std::size_t j = 0; j < frame.size(); ++j) cells[15 - j] = digitValue(frame[j]);
    return cells;
}

// Cell of frame position `position` (0..15).
inline Integer cellAt(const Cells& cells, int position) {
    return cells[static_cast<std::size_t>(15 - position)];
}

// The unit code in the cells: tens from position 3 (hex adjusted), units from 4.
inline Integer unitCodeOf(const Cells& cells) {
    return static_cast<Integer>(hexAdjust(cellAt(cells, 3)) * 10 + cellAt(cells, 4));
}

}  // namespace vantor
