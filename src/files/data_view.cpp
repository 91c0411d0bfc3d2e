#include "files/data_view.h"

#include <algorithm>
#include <string>

namespace vantor {

DataRecord readDataRecord(ItemReader& in) {
    DataRecord r;
    r.sequence = in.readText();
    r.value = in.readText();
    r.unit = in.readText();
    r.unitQuoted = in.lastQuoted();
    r.channel = in.readInteger();
    return r;
}

std::vector<DataRecord> readDataRecords(ItemReader& in, Long count) {
    std::vector<DataRecord> records;
    // Grow with the file rather than trusting the count: a wrong count fails
    // with error 62 instead of exhausting memory first.
    records.reserve(static_cast<std::size_t>(std::min<Long>(count, 1 << 16)));
    for (Long i = 1; i <= count; ++i) records.push_back(readDataRecord(in));
    return records;
}

String timeStampText(const String& stamp) {
    auto piece = [&](std::size_t from, std::size_t n) {
        return from < stamp.size() ? stamp.substr(from, n) : String();
    };
    return piece(0, 6) + " " + piece(6, 2) + ":" + piece(8, 2) + ":" + piece(10, 2);
}

std::array<String, 4> dataViewCells(Long row, const DataRecord& r) {
    return {std::to_string(row), std::to_string(r.channel),
            r.isTimeStamp() ? timeStampText(r.value) : r.value, r.unit};
}

void fillDataGrid(DataGrid& grid, const std::vector<DataRecord>& records) {
    const Long n = static_cast<Long>(records.size());
    grid.setCols(4);
    grid.setRows(n + 1);
    grid.setColWidth(1, grid.Width() / 5.0);
    grid.setColWidth(2, grid.Width() / 3.0);
    for (Long i = 1; i <= n; ++i) {
        std::array<String, 4> cells = dataViewCells(i, records[static_cast<std::size_t>(i - 1)]);
        grid.setTextMatrix(i, 0, std::move(cells[0]));
        grid.setTextMatrix(i, 2, std::move(cells[2]));
        grid.setTextMatrix(i, 3, std::move(cells[3]));
        grid.setTextMatrix(i, 1, std::move(cells[1]));
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
