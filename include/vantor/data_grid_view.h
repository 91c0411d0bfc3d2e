// The data grid that ViewData fills, shown in a QTableView.
#pragma once

#include <vantor/data_grid.h>

#include <QAbstractTableModel>
#include <QTableView>

namespace vantor {

class VantorCommWidget;

// A table model over a DataGrid. Row 0 of the grid is its header row and
// becomes the horizontal header; grid row r is model row r - 1.
//
// The grid notifies on every cell it writes; the model takes the grid's
// state once per turn of the event loop, so filling a large grid costs one
// reset, not one per cell.
class DataGridModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit DataGridModel(QObject* parent = nullptr);
    ~DataGridModel() override;

    // nullptr lets go of the current grid. The grid must outlive the model or
    // be let go of first.
    void setGrid(DataGrid* grid);
    DataGrid* grid() const { return grid_; }
    // The grid is being destroyed: drop it without touching it.
    void forgetGrid();
    // Takes the grid's state now instead of at the next turn of the loop.
    void refresh();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // A grid ColAlignment code as Qt alignment flags.
    static Qt::Alignment alignmentOf(int code);

    // How the cells are shown: as the grid lays them out (its column
    // alignment), or as readings: numbers right-aligned, units left-aligned
    // whether name or code, a time stamp's parts in its tooltip, and no
    // empty row before there is data. The grid itself is not changed.
    enum class Presentation { AsGrid, Readings };
    void setPresentation(Presentation presentation);

  signals:
    void refreshed();

  private:
    void scheduleRefresh();

    Qt::Alignment alignment(Long col) const;

    DataGrid* grid_ = nullptr;
    Presentation presentation_ = Presentation::AsGrid;
    int subscription_ = 0;
    bool pending_ = false;
    int rows_ = 0;
    int cols_ = 0;
};

// Applies what the grid holds besides its text: column widths and row
// heights (twips, converted at the view's logical resolution), column
// alignment and the top row.
class DataGridView : public QTableView {
    Q_OBJECT

  public:
    explicit DataGridView(QWidget* parent = nullptr);

    void setGrid(DataGrid* grid);
    // Follows the grid of the widget's control, and lets go of it when the
    // widget is destroyed.
    void setSource(VantorCommWidget* widget);
    DataGridModel* gridModel() const { return model_; }

  signals:
    // The view shows the grid's latest state.
    void refreshed();

  private:
    void applyLayout();

    DataGridModel* model_;
    QMetaObject::Connection sourceGone_;
    int defaultRowHeight_;
};

}  // namespace vantor
