// The readings of the data grid as charts, one per unit, stacked in the
// order of their channels: in each, one line per channel. Readings of different units never share a
// value axis. The x axis is time when the records carry time stamps (a reading sits at the stamp
// before it), else the record number. Clicking a channel in a legend hides or shows it, and that
// chart's axes fit what is left.
#pragma once

#include <vantor/data_grid.h>

#include <QScrollArea>
#include <map>
#include <string>
#include <vector>

class QChart;
class QChartView;
class QVBoxLayout;

namespace vantor::gui {

class ReadingsChart : public QScrollArea {
    Q_OBJECT

  public:
    explicit ReadingsChart(QWidget* parent = nullptr);

    // Shows the readings the grid holds now.
    void showReadings(const DataGrid& grid);
    void clear();
    // One chart per unit, top to bottom.
    int chartCount() const;
    QChart* chartAt(int index) const;
    int seriesCount() const;
    // Points of all series together.
    int pointCount() const;
    // The x axis is the time stamps' time.
    bool byTime() const { return byTime_; }
    // Hides or shows one series of a chart (what a click on its legend entry does).
    void toggleSeries(int chart, int series);

  private:
    QChartView* viewFor(const std::string& unit, bool isCode);
    // Lays the charts out by the first channel each shows.
    void order(const std::map<std::string, int>& firstChannel);
    void fitAxes(QChart* chart);

    QWidget* box_;
    QVBoxLayout* layout_;
    std::map<std::string, QChartView*> views_;  // by unit
    std::vector<QChartView*> shown_;            // top to bottom
    bool byTime_ = false;
};

}  // namespace vantor::gui
