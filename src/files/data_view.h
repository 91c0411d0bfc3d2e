// Lays a finished data file out as a table in a data grid.
#pragma once

#include <vantor/data_file.h>
#include <vantor/data_grid.h>
#include <vantor/types.h>

#include <vector>

#include "files/item_reader.h"

namespace vantor {

// Reads one record (four items): the one reader of the data file's lines.
// Errors 62 at the first missing item, 13 for a channel that is not a
// number, 6 for one outside -32768..32767.
DataRecord readDataRecord(ItemReader& in);

// Reads `count` records, as readDataRecord does.
std::vector<DataRecord> readDataRecords(ItemReader& in, Long count);

// Writes the records into the grid: sizes, headers, cells, heights,
// alignment and top row, in the order a host's grid expects them.
void fillDataGrid(DataGrid& grid, const std::vector<DataRecord>& records);

}  // namespace vantor
