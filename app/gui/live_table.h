// The records of a running download as a table that grows by a row per
// record the control writes, so that showing one costs the same however many
// came before it. The finished download is shown from the data view again.
#pragma once

#include <vantor/data_file.h>
#include <vantor/transfer_stats.h>

#include <QAbstractTableModel>
#include <array>
#include <vector>

namespace vantor::gui {

class LiveTable : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit LiveTable(QObject* parent = nullptr);

    void clear();
    // The rows of a turn of the event loop are inserted together after it.
    void add(const DataRecord& record);
    Long records() const { return static_cast<Long>(rows_.size()); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  signals:
    // Rows were inserted.
    void grew();

  private:
    void insertPending();

    std::vector<std::array<String, 4>> rows_;
    int shown_ = 0;
    bool pending_ = false;
};

}  // namespace vantor::gui
