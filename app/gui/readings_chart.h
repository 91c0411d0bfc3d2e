// The readings of the data grid as a chart: one line per channel, by record
// number. Clicking a channel in the legend hides or shows it, and the axes
// fit the channels shown, so that a channel of small values can be read
// beside one of large values.
#pragma once

#include <vantor/data_grid.h>

#include <QtCharts/QChartView>

class QValueAxis;

namespace vantor::gui {

class ReadingsChart : public QChartView {
    Q_OBJECT

  public:
    explicit ReadingsChart(QWidget* parent = nullptr);

    // Replaces every series with the readings the grid holds now.
    void showReadings(const DataGrid& grid);
    void clear();
    int seriesCount() const;
    // Points of all series together.
    int pointCount() const;
    // Hides or shows the series of one legend entry (what a click on it does).
    void toggleSeries(int index);

  private:
    void fitAxes();

    QValueAxis* x_ = nullptr;
    QValueAxis* y_ = nullptr;
};

}  // namespace vantor::gui
