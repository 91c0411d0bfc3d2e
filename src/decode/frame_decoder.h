// Turns the digit cells of one frame into a data-file line.
#pragma once

#include <string>

#include "record/control_record.h"

namespace vantor {

// Digit value of a frame byte as the event-driven receiver stores it: bytes
// from '0' up lose 48, control bytes keep their own value.
inline Integer digitValue(Byte b) {
    return b >= 48 ? static_cast<Integer>(b - 48) : b;
}
// Hex adjustment: the letters A to F (17 to 22 after digitValue) become 10 to 15.
inline Integer hexAdjust(Integer x) {
    return x > 9 ? static_cast<Integer>(x - 7) : x;
}

// Cell k of iDigit holds frame position 15 - k.
inline Integer cell(const ControlPrivate& m, int position) {
    return m.iDigit[static_cast<std::size_t>(15 - position)];
}

// The unit code of the frame in the cells: tens from b3 (hex adjusted), units from b4.
inline Integer unitCodeOf(const ControlPrivate& m) {
    return static_cast<Integer>(hexAdjust(cell(m, 3)) * 10 + cell(m, 4));
}

inline constexpr double kInvalidValue = 999999;

// True for the cells of an extended reading whose unit code has an entry in
// the table that no unit file filled (its name is ten NULs). Ask before
// decodeCells, which changes the cells.
inline bool hasUnnamedUnit(const ControlPrivate& m) {
    if (cell(m, 1) != 4 || cell(m, 2) == 0) return false;
    const Integer unit = unitCodeOf(m);
    return unit >= 0 && unit <= 300 && m.sUnitName[static_cast<std::size_t>(unit)] == Text10();
}

// Decodes the frame in m.iDigit: sets UnitIndex and dValue (and, for an
// extended reading, the adjusted channel in cell 13), and appends its
// data-file line without the line end to `line`. The caller has made the
// ESC test; `sequence` is item 1 of the line.
void decodeCells(ControlPublic& pub, ControlPrivate& m, Long sequence, std::string& line);

}  // namespace vantor
