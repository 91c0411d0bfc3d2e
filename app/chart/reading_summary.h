// The readings of a data file or a data grid, summed up for charts of a
// given width: per unit (a chart) and channel (a line), and per column of
// the width, the first, last, lowest and highest value and whether an
// overload fell there. Its size depends on the width and the limits, never
// on how many readings there are.
#pragma once

#include <vantor/data_grid.h>
#include <vantor/export.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::gui {

// One record as the charts take it.
struct ChartSample {
    enum class Kind { Stamp, Value, Overload, Invalid };
    Kind kind = Kind::Value;
    // A stamp's wall-clock seconds since 1970; none when it is not a date
    // and a time. A reading sits at the stamp before it (the first one for
    // readings before any).
    std::optional<std::int64_t> time;
    double record = 0;  // the sequence number
    Integer channel = 0;
    std::string_view unit;  // the name without its padding, or the code
    bool unitIsCode = false;
    double value = 0;  // of a Value; an Overload is the meter's 999999
};

// Plays every record in order, each time it is called.
using SampleFeed = std::function<void(const std::function<void(const ChartSample&)>&)>;

// A data file's readings, read a record at a time, with the meter's clock;
// unit codes that `unitNames` (by code, as readUnitNames gives them) names
// become that name. Throws RuntimeError as DataFileReader does.
SampleFeed dataFileFeed(const std::string& path, const MeterClock& clock,
                        std::vector<std::string> unitNames = {});
// The reading rows of a grid laid out by ViewData, with its time stamps'
// cells read by `seconds`.
SampleFeed gridFeed(const DataGrid& grid,
                    std::function<std::optional<std::int64_t>(const std::string&)> seconds);

// The x axis all charts of a picture share: time or record numbers, its
// range a whole number of steps.
struct ChartAxis {
    bool byTime = false;
    double min = 0, max = 1;  // seconds of the wall clock, or record numbers
    double step = 1;
    int ticks() const;
    // Where x falls, 0 to columns - 1.
    int column(double x, int columns) const;
    // Ticks at whole seconds, minutes, hours or days (time), or at 1, 2 or 5
    // times a power of ten (records), at most eight steps from lowest to
    // highest.
    static ChartAxis fit(bool byTime, double lowest, double highest);
};

struct SummaryLimits {
    int columns = 1000;
    int charts = 12;
    int lines = 12;  // per chart
};

class ReadingSummary {
  public:
    struct Part {
        std::uint32_t count = 0;
        double first = 0, last = 0, low = 0, high = 0;
        double firstX = 0, lastX = 0;
        void add(double x, double value);
    };
    // One column of a line: the readings before its first overload, and
    // those after it.
    struct Column {
        Part before, after;
        bool overload = false;
        double overloadX = 0;
    };
    struct Line {
        Integer channel = 0;
        std::int64_t readings = 0;
        std::int64_t overloads = 0;
        double low = 0, high = 0;     // of all its values
        std::vector<Column> columns;  // one per column of the width
    };
    struct Chart {
        std::string unit;
        bool unitIsCode = false;
        std::vector<Line> lines;  // by channel
    };

    // Plays `feed` twice: for the range and the units, then for the values.
    static ReadingSummary build(const SampleFeed& feed, const SummaryLimits& limits);

    ChartAxis axis;
    int columns = 0;
    std::vector<Chart> charts;  // by their lowest channel, then unit (codes by number)
    // Units and lines beyond the limits: named, not drawn.
    std::vector<std::string> leftOutUnits;  // as unitLabel names them
    std::int64_t leftOutLines = 0;
    std::int64_t records = 0;   // all the feed played
    std::int64_t readings = 0;  // drawn: values in the charts

    // "degC", "unit code 12", "(no unit name)".
    static std::string unitLabel(const std::string& unit, bool isCode);
};

}  // namespace vantor::gui
