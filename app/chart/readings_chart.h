// The readings of the data grid as charts, one per unit, stacked in the
// order of their channels: in each, one line per channel. Readings of different units never share a
// value axis. The x axis is time when the records carry time stamps (a reading sits at the stamp
// before it), else the record number. Clicking a channel in a legend hides or shows it, and that
// chart's axes fit what is left.
#pragma once

#include <vantor/data_grid.h>
#include <vantor/export.h>

#include <QScrollArea>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QChart;
class QPaintDevice;
class QChartView;
class QVBoxLayout;

namespace vantor::gui {

class ReadingsChart : public QScrollArea {
    Q_OBJECT

  public:
    explicit ReadingsChart(QWidget* parent = nullptr);

    // The wall clock's seconds of a time stamp cell ("120604 15:48:15").
    using StampClock = std::function<std::optional<std::int64_t>(const std::string&)>;
    // The meter's clock as export reads it, for showReadings.
    static StampClock wallClock(const MeterClock& clock);

    // Shows the readings the grid holds now; the time stamps read by
    // `clock` (default: the date group as yymmdd).
    void showReadings(const DataGrid& grid, const StampClock& clock = {});
    // Paints the charts, stacked, into `size` on `device` (a picture, an SVG
    // or PDF page) without touching what is on screen.
    void paint(QPaintDevice& device, QSize size);
    // Writes the charts to `path` as PNG, SVG or PDF by its extension, under
    // a new name first: an earlier file is kept as path.N. Throws
    // RuntimeError naming the file.
    void save(const std::string& path, QSize size);
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
