// Lays a finished data file out as a table in a data grid.
#pragma once

#include <vantor/data_grid.h>
#include <vantor/types.h>

#include <vector>

#include "platform/textfile/item_reader.h"

namespace vantor {

struct DataRecord {
    String value;     // item 2 as written
    String unit;      // item 3 as written ("Time" for a time record)
    Integer channel;  // item 4
};

// Reads `count` records (four items each; item 1 discarded). Errors 62 at the
// first missing item, 13 for a channel that is not a number, 6 for one
// outside -32768..32767.
std::vector<DataRecord> readDataRecords(ItemReader& in, Long count);

// "120604154815" -> "120604 15:48:15"; shorter stamps leave empty pieces.
String timeStampText(const String& stamp);

// Writes the records into the grid: sizes, headers, cells, heights,
// alignment and top row, in the order a host's grid expects them.
void fillDataGrid(DataGrid& grid, const std::vector<DataRecord>& records);

}  // namespace vantor
