// A data grid model: the table the data view fills. Views subscribe to it.
#pragma once

#include <vantor/forms.h>
#include <vantor/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vantor {

class DataGrid : public Observable {
  public:
    static constexpr int kAlignCentre = 4;  // centred horizontally and vertically

    Long Cols() const { return cols_; }
    void setCols(Long cols);
    Long Rows() const { return rows_; }
    void setRows(Long rows);
    // Width of the whole grid in twips.
    double Width() const { return width_; }
    void setWidth(double twips);

    double ColWidth(Long col) const;  // -1: the grid's default width
    void setColWidth(Long col, double twips);
    const String& TextMatrix(Long row, Long col) const;
    void setTextMatrix(Long row, Long col, const String& text);
    double RowHeight(Long row) const;  // -1: the grid's default height
    void setRowHeight(Long row, double twips);
    int ColAlignment(Long col) const;  // 0: the grid's default alignment
    void setColAlignment(Long col, int alignment);
    Long TopRow() const { return topRow_; }
    void setTopRow(Long row);

  private:
    void checkCell(Long row, Long col) const;
    void checkCol(Long col) const;
    void checkRow(Long row) const;

    Long cols_ = 2;
    Long rows_ = 2;
    double width_ = 6915;
    Long topRow_ = 1;
    std::map<Long, double> colWidth_;
    std::map<Long, double> rowHeight_;
    std::map<Long, int> colAlignment_;
    std::vector<String> text_ = std::vector<String>(4);  // row-major, rows_ x cols_
};

}  // namespace vantor
