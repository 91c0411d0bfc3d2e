#include "live_summary.h"

#include <algorithm>

namespace vantor::gui {

namespace {

// Beyond these many (unit, channel) pairs a new one waits for the finished
// view: each would make the summary again.
constexpr std::size_t kMostLines = 256;
constexpr double kOverload = 999999;

}  // namespace

LiveSummary::LiveSummary(SummaryLimits limits) : limits_(limits) {
    clear();
}

void LiveSummary::clear() {
    samples_ = {};
    units_.clear();
    unitIndex_.clear();
    lines_.clear();
    firstTime_.reset();
    time_.reset();
    rebuild();
}

void LiveSummary::add(const ChartSample& in) {
    Sample s{in.kind, in.unitIsCode, in.channel, 0, in.time, in.record, in.value};
    if (s.kind == ChartSample::Kind::Value || s.kind == ChartSample::Kind::Overload) {
        auto it = unitIndex_.find(in.unit);
        if (it == unitIndex_.end()) {
            it = unitIndex_.emplace(std::string(in.unit), static_cast<std::uint32_t>(units_.size()))
                     .first;
            units_.push_back(it->first);
        }
        s.unit = it->second;
    }
    samples_.push_back(s);
    bool again = false;
    if (s.kind == ChartSample::Kind::Stamp && s.time) {
        time_ = s.time;
        // The first time on the line puts the axis on the meter's clock.
        again = !firstTime_;
        if (!firstTime_) firstTime_ = s.time;
    } else if (s.kind != ChartSample::Kind::Stamp && s.kind != ChartSample::Kind::Invalid) {
        again = lines_.size() < kMostLines && lines_.emplace(s.unit, s.channel).second;
    }
    if (again || !place(s)) rebuild();
}

bool LiveSummary::place(const Sample& s) {
    ++summary_.records;
    if (s.kind == ChartSample::Kind::Stamp || s.kind == ChartSample::Kind::Invalid) return true;
    const std::string& unit = units_[s.unit];
    const auto chart = std::find_if(summary_.charts.begin(), summary_.charts.end(),
                                    [&](const ReadingSummary::Chart& c) { return c.unit == unit; });
    if (chart == summary_.charts.end()) return true;  // left out
    const ChartAxis& axis = summary_.axis;
    const double x = axis.byTime ? static_cast<double>(time_ ? *time_ : *firstTime_) : s.record;
    if (x < axis.min || x > axis.max) return false;
    const auto line =
        std::find_if(chart->lines.begin(), chart->lines.end(),
                     [&](const ReadingSummary::Line& l) { return l.channel == s.channel; });
    if (line == chart->lines.end()) return true;
    if (line->columns.empty()) line->columns.resize(static_cast<std::size_t>(summary_.columns));
    ReadingSummary::Column& col =
        line->columns[static_cast<std::size_t>(axis.column(x, summary_.columns))];
    if (s.kind == ChartSample::Kind::Overload) {
        ++line->overloads;
        if (!col.overload) col.overloadX = x;
        col.overload = true;
        return true;
    }
    (col.overload ? col.after : col.before).add(x, s.value);
    line->low = line->readings == 0 ? s.value : std::min(line->low, s.value);
    line->high = line->readings == 0 ? s.value : std::max(line->high, s.value);
    ++line->readings;
    ++summary_.readings;
    return true;
}

void LiveSummary::rebuild() {
    summary_ = ReadingSummary::build(
        [this](const std::function<void(const ChartSample&)>& take) {
            for (const Sample& s : samples_) {
                ChartSample c;
                c.kind = s.kind;
                c.time = s.time;
                c.record = s.record;
                c.channel = s.channel;
                c.unitIsCode = s.unitIsCode;
                c.value = s.kind == ChartSample::Kind::Overload ? kOverload : s.value;
                if (s.kind == ChartSample::Kind::Value || s.kind == ChartSample::Kind::Overload) {
                    c.unit = units_[s.unit];
                }
                take(c);
            }
        },
        limits_);
}

}  // namespace vantor::gui
