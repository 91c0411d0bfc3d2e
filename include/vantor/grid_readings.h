// The readings of a filled data grid, as series for plotting: one per
// channel and unit.
#pragma once

#include <vantor/data_grid.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

struct ReadingPoint {
    Long record;  // the grid's row number (column 0)
    // Seconds since 1970 of the time stamp before the reading (the first one
    // for readings before any), when the grid has time stamps.
    std::optional<std::int64_t> time;
    double value;
};

struct ReadingSeries {
    Integer channel;
    std::string unit;  // the unit's name without its padding, or its code
    bool unitIsCode;   // the file holds the bare unit code
    std::vector<ReadingPoint> points;
};

// Every reading row of a grid laid out by ViewData (columns No., Channel,
// Value, Unit), one series per channel and unit, ordered by unit, then
// channel. Time records, the meter's invalid value 999999 and cells that
// are not numbers are left out.
std::vector<ReadingSeries> readingSeries(const DataGrid& grid);
// The same, with the time stamps' cells read by `seconds` (the wall clock's
// seconds since 1970, as stampSeconds gives them) instead.
std::vector<ReadingSeries> readingSeries(
    const DataGrid& grid,
    const std::function<std::optional<std::int64_t>(const std::string&)>& seconds);

// A time stamp as the grid shows it ("120604 15:48:15": date group, then
// hh:mm:ss), with the date group read as yymmdd; empty when it is not one.
std::optional<std::int64_t> stampSeconds(const std::string& text);

}  // namespace vantor
