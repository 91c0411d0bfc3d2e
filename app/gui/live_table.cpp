#include "live_table.h"

#include <QTimer>

namespace vantor::gui {

namespace {

QString fromControl(const String& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

LiveTable::LiveTable(QObject* parent) : QAbstractTableModel(parent) {}

void LiveTable::clear() {
    beginResetModel();
    rows_ = {};
    shown_ = 0;
    pending_ = false;
    endResetModel();
}

void LiveTable::add(const DataRecord& record) {
    rows_.push_back(dataViewCells(records() + 1, record));
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, &LiveTable::insertPending);
}

void LiveTable::insertPending() {
    if (!pending_) return;
    pending_ = false;
    const int first = shown_;
    const int last = static_cast<int>(rows_.size()) - 1;
    if (last < first) return;
    beginInsertRows({}, first, last);
    shown_ = last + 1;
    endInsertRows();
    emit grew();
}

int LiveTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int LiveTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 4;
}

QVariant LiveTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_) return {};
    switch (role) {
        case Qt::DisplayRole:
            return fromControl(rows_[static_cast<std::size_t>(index.row())]
                                    [static_cast<std::size_t>(index.column())]);
        case Qt::TextAlignmentRole:
            // As the finished table shows readings.
            return QVariant::fromValue((index.column() < 3 ? Qt::AlignRight : Qt::AlignLeft) |
                                       Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant LiveTable::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kHeadings[] = {"No.", "Channel", "Value", "Unit"};
    if (orientation != Qt::Horizontal || section < 0 || section > 3) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromLatin1(kHeadings[section]);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue((section < 3 ? Qt::AlignRight : Qt::AlignLeft) |
                                       Qt::AlignVCenter);
        default:
            return {};
    }
}

}  // namespace vantor::gui
