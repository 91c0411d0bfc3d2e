// The data file's line for a reading: sequence number, value or time stamp,
// unit name or code or "Time", channel.
#pragma once

#include <vantor/types.h>

#include <array>
#include <string>

#include "protocol/reading.h"

namespace vantor {

// Unit names by unit code, 0 to 300.
using UnitNames = std::array<Text10, 301>;

// Appends the line of `reading`, without its line end, to `line`. An
// extended reading is written with its unit's name in quotes, or its code
// when the code lies outside the table.
// Where the items of a line stand in it, as offsets from its start.
struct RecordItems {
    std::size_t sequenceEnd = 0;
    std::size_t valueAt = 0, valueEnd = 0;  // inside the quotes of a time stamp
    std::size_t unitAt = 0, unitEnd = 0;    // inside the quotes of a name
    bool unitQuoted = false;
};

void appendRecordLine(std::string& line, Long sequence, const Reading& reading,
                      const UnitNames& names, RecordItems* items = nullptr);

// An extended reading whose unit's entry no unit file filled (ten NULs).
bool hasUnnamedUnit(const Reading& reading, const UnitNames& names);

}  // namespace vantor
