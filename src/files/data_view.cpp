#include "files/data_view.h"

#include <algorithm>
#include <string>

namespace vantor {

std::vector<DataRecord> readDataRecords(ItemReader& in, Long count) {
    std::vector<DataRecord> records;
    // Grow with the file rather than trusting the count: a wrong count fails
    // with error 62 instead of exhausting memory first.
    records.reserve(static_cast<std::size_t>(std::min<Long>(count, 1 << 16)));
    for (Long i = 1; i <= count; ++i) {
        in.readText();
        DataRecord r;
        r.value = in.readText();
        r.unit = in.readText();
        r.channel = in.readInteger();
        records.push_back(std::move(r));
    }
    return records;
}

String timeStampText(const String& stamp) {
    auto piece = [&](std::size_t from, std::size_t n) {
        return from < stamp.size() ? stamp.substr(from, n) : String();
    };
    return piece(0, 6) + " " + piece(6, 2) + ":" + piece(8, 2) + ":" + piece(10, 2);
}

void fillDataGrid(DataGrid& grid, const std::vector<DataRecord>& records) {
    const Long n = static_cast<Long>(records.size());
    grid.setCols(4);
    grid.setRows(n + 1);
    grid.setColWidth(1, grid.Width() / 5.0);
    grid.setColWidth(2, grid.Width() / 3.0);
    for (Long i = 1; i <= n; ++i) {
        const DataRecord& r = records[static_cast<std::size_t>(i - 1)];
        grid.setTextMatrix(i, 0, std::to_string(i));
        grid.setTextMatrix(i, 2, r.unit == "Time" ? timeStampText(r.value) : r.value);
        grid.setTextMatrix(i, 3, r.unit);
        grid.setTextMatrix(i, 1, std::to_string(r.channel));
        grid.setRowHeight(i, 360);
    }
    grid.setTextMatrix(0, 0, "No.");
    grid.setTextMatrix(0, 1, "Channel");
    grid.setTextMatrix(0, 2, "Value");
    grid.setTextMatrix(0, 3, "Unit");
    for (Long c = 0; c <= 3; ++c) grid.setColAlignment(c, DataGrid::kAlignCentre);
    grid.setTopRow(1);
}

}  // namespace vantor
