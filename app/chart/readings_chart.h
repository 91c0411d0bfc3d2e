// The readings as charts, one per unit, stacked in the order of their
// channels: in each, one line per channel. Readings of different units never share a value axis;
// all charts share one x axis: the meter's clock when the records carry time stamps (a reading
// sits at the stamp before it), else the record number. An overload leaves a gap in its line and a
// triangle at the top of the chart. The charts draw a ReadingSummary, so what they hold depends on
// their width, not on the readings. Clicking a channel in a legend hides or shows it, and that
// chart's value axis fits what is left.
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

#include "reading_summary.h"

class QAbstractSeries;
class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QPaintDevice;
class QScatterSeries;
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
    // Shows a summary made for this chart (plot's, of a data file).
    void showSummary(ReadingSummary summary);
    // Paints the charts, stacked, into `size` on `device` (a picture, an SVG
    // or PDF page) without touching what is on screen; below them a line
    // naming what was left out, if anything was.
    void paint(QPaintDevice& device, QSize size);
    // Writes the charts to `path` as PNG, SVG or PDF by its extension, under
    // a new name first: an earlier file is kept as path.N, whose name it
    // returns ("" when there was none). Throws RuntimeError naming the file.
    std::string save(const std::string& path, QSize size);
    void clear();
    // One chart per unit, top to bottom.
    int chartCount() const;
    QChart* chartAt(int index) const;
    // Lines (channels) of all charts together.
    int seriesCount() const;
    // Readings drawn, of all lines together.
    int pointCount() const;
    // The x axis is the time stamps' time.
    bool byTime() const { return summary_.axis.byTime; }
    const ReadingSummary& summary() const { return summary_; }
    // What the limits left out, "" when nothing was.
    QString leftOutNote() const;
    // Hides or shows one channel of a chart (what a click on its legend entry does).
    void toggleSeries(int chart, int series);

    // The columns the desktop program's charts are summed up into: a wide screen's pixels.
    static constexpr int kLiveColumns = 2048;

  private:
    // A channel's line: the series its gaps cut it into, the first in the legend.
    struct Line {
        std::vector<QLineSeries*> parts;
        QScatterSeries* overloads = nullptr;
        double low = 0, high = 0;
        bool any = false;
    };
    struct Shown {
        QChartView* view = nullptr;
        std::vector<Line> lines;
    };

    Shown& shownFor(const std::string& unit, const QString& label);
    void fitAxes(std::size_t chart);
    bool smooth() const;

    QWidget* box_;
    QVBoxLayout* layout_;
    QLabel* note_;
    std::map<std::string, Shown> views_;  // by unit
    std::vector<Shown*> shown_;           // top to bottom
    ReadingSummary summary_;
    qsizetype points_ = 0;  // of all line series
};

}  // namespace vantor::gui
