#include <vantor/data_grid.h>
#include <vantor/errors.h>

#include <algorithm>

namespace vantor {

void DataGrid::checkCol(Long col) const {
    if (col < 0 || col >= cols_) throw RuntimeError(kErrSubscript);
}

void DataGrid::checkRow(Long row) const {
    if (row < 0 || row >= rows_) throw RuntimeError(kErrSubscript);
}

void DataGrid::checkCell(Long row, Long col) const {
    checkRow(row);
    checkCol(col);
}

void DataGrid::setCols(Long cols) {
    if (cols < 0) throw RuntimeError(kErrInvalidProperty);
    std::vector<String> text(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols));
    for (Long r = 0; r < rows_; ++r) {
        for (Long c = 0; c < std::min(cols, cols_); ++c) {
            text[static_cast<std::size_t>(r * cols + c)] =
                std::move(text_[static_cast<std::size_t>(r * cols_ + c)]);
        }
    }
    text_ = std::move(text);
    cols_ = cols;
    std::erase_if(colWidth_, [cols](const auto& e) { return e.first >= cols; });
    std::erase_if(colAlignment_, [cols](const auto& e) { return e.first >= cols; });
    changed();
}

void DataGrid::setRows(Long rows) {
    if (rows < 0) throw RuntimeError(kErrInvalidProperty);
    rows_ = rows;
    text_.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols_));
    if (topRow_ >= rows) topRow_ = rows > 1 ? 1 : 0;
    std::erase_if(rowHeight_, [rows](const auto& e) { return e.first >= rows; });
    changed();
}

void DataGrid::setWidth(double twips) {
    width_ = twips;
    changed();
}

double DataGrid::ColWidth(Long col) const {
    checkCol(col);
    auto it = colWidth_.find(col);
    return it == colWidth_.end() ? -1 : it->second;
}

void DataGrid::setColWidth(Long col, double twips) {
    checkCol(col);
    colWidth_[col] = twips;
    changed();
}

const String& DataGrid::TextMatrix(Long row, Long col) const {
    checkCell(row, col);
    return text_[static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) +
                 static_cast<std::size_t>(col)];
}

void DataGrid::setTextMatrix(Long row, Long col, const String& text) {
    checkCell(row, col);
    text_[static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) +
          static_cast<std::size_t>(col)] = text;
    changed();
}

double DataGrid::RowHeight(Long row) const {
    checkRow(row);
    auto it = rowHeight_.find(row);
    return it == rowHeight_.end() ? -1 : it->second;
}

void DataGrid::setRowHeight(Long row, double twips) {
    checkRow(row);
    rowHeight_[row] = twips;
    changed();
}

int DataGrid::ColAlignment(Long col) const {
    checkCol(col);
    auto it = colAlignment_.find(col);
    return it == colAlignment_.end() ? 0 : it->second;
}

void DataGrid::setColAlignment(Long col, int alignment) {
    checkCol(col);
    colAlignment_[col] = alignment;
    changed();
}

void DataGrid::setTopRow(Long row) {
    checkRow(row);
    topRow_ = row;
    changed();
}

}  // namespace vantor
