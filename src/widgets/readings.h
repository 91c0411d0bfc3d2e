// The readings of a filled data grid, by channel, for plotting.
#pragma once

#include <vantor/data_grid.h>

#include <map>
#include <vector>

namespace vantor {

struct ReadingPoint {
    Long record;  // the grid's row number (column 0)
    double value;
};

// Every reading row of a grid laid out by ViewData (columns No., Channel,
// Value, Unit), by channel. Time records, the meter's invalid value 999999
// and cells that are not numbers are left out.
std::map<Integer, std::vector<ReadingPoint>> readingsByChannel(const DataGrid& grid);

}  // namespace vantor
