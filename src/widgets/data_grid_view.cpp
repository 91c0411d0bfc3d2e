#include <vantor/data_grid_view.h>
#include <vantor/grid_readings.h>
#include <vantor/vantor_comm_widget.h>

#include <QDateTime>
#include <QHeaderView>
#include <QTimer>
#include <limits>
#include <optional>

#include "widgets/forms_qt.h"

namespace vantor {

namespace {

QString fromControl(const String& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

int clampToInt(Long n) {
    return n < 0 ? 0 : static_cast<int>(n);
}

// A grid in its design state: one row below the headings, with nothing in it.
bool holdsNoData(const DataGrid& grid) {
    if (grid.Rows() != 2) return false;
    for (Long col = 0; col < grid.Cols(); ++col) {
        if (!grid.TextMatrix(1, col).empty()) return false;
    }
    return true;
}

// "120604 15:48:15": the meter's date group as it sent it, then the time.
QString stampToolTip(const String& stamp) {
    if (stamp.size() < 15) return {};
    const QString text = fromControl(stamp);
    QString tip = QObject::tr("Time stamp: date group %1, time %2.").arg(text.left(6), text.mid(7));
    if (auto seconds = stampSeconds(stamp)) {
        tip +=
            QObject::tr(
                "\nRead as yymmdd the date is %1; the chart places the readings "
                "after a stamp at its time.")
                .arg(QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC).date().toString(Qt::ISODate));
    }
    return tip;
}

}  // namespace

DataGridModel::DataGridModel(QObject* parent) : QAbstractTableModel(parent) {}

DataGridModel::~DataGridModel() {
    if (grid_ != nullptr) grid_->unsubscribe(subscription_);
}

void DataGridModel::setGrid(DataGrid* grid) {
    if (grid == grid_) return;
    if (grid_ != nullptr) grid_->unsubscribe(subscription_);
    grid_ = grid;
    subscription_ = grid_ != nullptr ? grid_->subscribe([this] { scheduleRefresh(); }) : 0;
    refresh();
}

void DataGridModel::forgetGrid() {
    grid_ = nullptr;
    subscription_ = 0;
    refresh();
}

void DataGridModel::scheduleRefresh() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (pending_) refresh();
    });
}

void DataGridModel::setPresentation(Presentation presentation) {
    presentation_ = presentation;
    refresh();
}

void DataGridModel::refresh() {
    pending_ = false;
    beginResetModel();
    rows_ = grid_ != nullptr ? clampToInt(grid_->Rows() - 1) : 0;
    if (presentation_ == Presentation::Readings && grid_ != nullptr && holdsNoData(*grid_)) {
        rows_ = 0;
    }
    cols_ = grid_ != nullptr ? clampToInt(grid_->Cols()) : 0;
    endResetModel();
    emit refreshed();
}

int DataGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int DataGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_;
}

Qt::Alignment DataGridModel::alignmentOf(int code) {
    // Codes 0 to 8 run left, centre, right, each top, centre, bottom; the
    // grid's default (and 9, general) is left and centred vertically.
    static const Qt::Alignment kHorizontal[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
    static const Qt::Alignment kVertical[] = {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom};
    if (code < 1 || code > 8) return Qt::AlignLeft | Qt::AlignVCenter;
    return kHorizontal[code / 3] | kVertical[code % 3];
}

QVariant DataGridModel::data(const QModelIndex& index, int role) const {
    // The grid may have changed since the last refresh: read it only where it
    // still has the cell.
    if (grid_ == nullptr || !index.isValid()) return {};
    const Long row = index.row() + 1;
    const Long col = index.column();
    if (row >= grid_->Rows() || col >= grid_->Cols()) return {};
    switch (role) {
        case Qt::DisplayRole:
            return fromControl(grid_->TextMatrix(row, col));
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(alignment(col));
        case Qt::ToolTipRole:
            if (presentation_ == Presentation::Readings && col == 2 && grid_->Cols() > 3 &&
                grid_->TextMatrix(row, 3) == "Time") {
                return stampToolTip(grid_->TextMatrix(row, 2));
            }
            return {};
        default:
            return {};
    }
}

Qt::Alignment DataGridModel::alignment(Long col) const {
    if (presentation_ == Presentation::Readings) {
        return (col < 3 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    }
    return alignmentOf(grid_->ColAlignment(col));
}

QVariant DataGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || grid_ == nullptr || grid_->Rows() < 1 ||
        section >= grid_->Cols()) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (role) {
        case Qt::DisplayRole:
            return fromControl(grid_->TextMatrix(0, section));
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(alignment(section));
        default:
            return {};
    }
}

DataGridView::DataGridView(QWidget* parent) : QTableView(parent), model_(new DataGridModel(this)) {
    setModel(model_);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setStretchLastSection(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    defaultRowHeight_ = verticalHeader()->defaultSectionSize();
    connect(model_, &DataGridModel::refreshed, this, [this] {
        applyLayout();
        emit refreshed();
    });
}

void DataGridView::setGrid(DataGrid* grid) {
    disconnect(sourceGone_);
    model_->setGrid(grid);
}

void DataGridView::setSource(VantorCommWidget* widget) {
    setGrid(widget != nullptr ? &widget->control().Grid() : nullptr);
    if (widget == nullptr) return;
    // The control and its grid are gone by the time destroyed() is emitted.
    sourceGone_ = connect(widget, &QObject::destroyed, model_, &DataGridModel::forgetGrid);
}

void DataGridView::applyLayout() {
    const DataGrid* grid = model_->grid();
    if (grid == nullptr) return;
    const double dx = logicalDpiX();
    const double dy = logicalDpiY();
    QHeaderView* columns = horizontalHeader();
    for (int c = 0; c < model_->columnCount(); ++c) {
        const double twips = grid->ColWidth(c);
        setColumnWidth(c, twips >= 0 ? twipsToPixels(twips, dx) : columns->defaultSectionSize());
    }

    // Every data row usually has the same height: one default then serves
    // them all, which keeps a large grid cheap.
    QHeaderView* rows = verticalHeader();
    const int n = model_->rowCount();
    std::optional<double> common;
    bool uniform = true;
    for (int r = 0; r < n && uniform; ++r) {
        const double h = grid->RowHeight(r + 1);
        if (!common) {
            common = h;
        } else if (h != *common) {
            uniform = false;
        }
    }
    if (uniform) {
        rows->setDefaultSectionSize(common && *common >= 0 ? twipsToPixels(*common, dy)
                                                           : defaultRowHeight_);
    } else {
        rows->setDefaultSectionSize(defaultRowHeight_);
        for (int r = 0; r < n; ++r) {
            const double h = grid->RowHeight(r + 1);
            if (h >= 0) rows->resizeSection(r, twipsToPixels(h, dy));
        }
    }

    const Long top = grid->TopRow();
    if (top >= 1 && top <= n) scrollTo(model_->index(top - 1, 0), QAbstractItemView::PositionAtTop);
}

}  // namespace vantor
