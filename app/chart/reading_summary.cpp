#include "reading_summary.h"

#include <vantor/data_file.h>
#include <vantor/errors.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <tuple>
#include <utility>

namespace vantor::gui {

namespace {

// What the meter sends for an overload.
constexpr double kOverload = 999999;
// Units and (unit, channel) pairs a file may name before the rest are only
// counted: a hostile file must not make the first pass grow without bound.
constexpr std::size_t kMaxUnitsSeen = 10000;
constexpr std::size_t kMaxPairsSeen = 65536;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

std::optional<double> number(std::string_view text) {
    text = trimmed(text);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// A value cell as a reading: a number, the overload, or neither.
void readValue(std::string_view text, ChartSample& s) {
    const auto value = number(text);
    if (!value || !std::isfinite(*value)) {
        s.kind = ChartSample::Kind::Invalid;
    } else if (*value == kOverload) {
        s.kind = ChartSample::Kind::Overload;
    } else {
        s.kind = ChartSample::Kind::Value;
        s.value = *value;
    }
}

bool allDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789-") == std::string_view::npos;
}

}  // namespace

SampleFeed dataFileFeed(const std::string& path, const MeterClock& clock,
                        std::vector<std::string> unitNames) {
    return [path, clock,
            names = std::move(unitNames)](const std::function<void(const ChartSample&)>& take) {
        DataFileReader reader(path);
        double index = 0;
        while (!reader.atEnd()) {
            DataRecord r;
            try {
                r = reader.read();
            } catch (const RuntimeError& e) {
                if (e.number() == kErrInputPastEnd) break;  // a record cut short at the end
                throw;
            }
            ChartSample s;
            s.record = number(r.sequence).value_or(index);
            ++index;
            if (r.isTimeStamp()) {
                s.kind = ChartSample::Kind::Stamp;
                if (auto t = clock.read(r.value)) s.time = t->epochSeconds + t->offsetSeconds;
                take(s);
                continue;
            }
            readValue(r.value, s);
            s.channel = r.channel;
            s.unit = r.unitQuoted ? trimmed(r.unit) : std::string_view(r.unit);
            s.unitIsCode = !r.unitQuoted;
            int code = -1;
            const auto [end, ec] =
                std::from_chars(r.unit.data(), r.unit.data() + r.unit.size(), code);
            if (s.unitIsCode && ec == std::errc() && end == r.unit.data() + r.unit.size() &&
                code >= 0 && static_cast<std::size_t>(code) < names.size() &&
                !names[static_cast<std::size_t>(code)].empty()) {
                s.unit = names[static_cast<std::size_t>(code)];
                s.unitIsCode = false;
            }
            take(s);
        }
    };
}

SampleFeed gridFeed(const DataGrid& grid,
                    std::function<std::optional<std::int64_t>(const std::string&)> seconds) {
    return
        [&grid, seconds = std::move(seconds)](const std::function<void(const ChartSample&)>& take) {
            if (grid.Cols() < 4) return;
            for (Long row = 1; row < grid.Rows(); ++row) {
                const String& unit = grid.TextMatrix(row, 3);
                ChartSample s;
                s.record = number(grid.TextMatrix(row, 0)).value_or(row);
                if (unit == "Time") {
                    s.kind = ChartSample::Kind::Stamp;
                    s.time = seconds(grid.TextMatrix(row, 2));
                    take(s);
                    continue;
                }
                readValue(grid.TextMatrix(row, 2), s);
                const auto channel = number(grid.TextMatrix(row, 1));
                if (!channel) s.kind = ChartSample::Kind::Invalid;
                s.channel = channel ? static_cast<Integer>(*channel) : Integer{0};
                s.unit = trimmed(unit);
                s.unitIsCode = allDigits(unit);
                take(s);
            }
        };
}

int ChartAxis::ticks() const {
    return static_cast<int>(std::lround((max - min) / step)) + 1;
}

int ChartAxis::column(double x, int columns) const {
    const double at = std::floor((x - min) / (max - min) * columns);
    return static_cast<int>(std::clamp(at, 0.0, static_cast<double>(columns - 1)));
}

ChartAxis ChartAxis::fit(bool byTime, double lowest, double highest) {
    constexpr int kMostSteps = 8;
    ChartAxis axis;
    axis.byTime = byTime;
    // A single reading, or readings a moment apart, still get a readable span.
    highest = std::max(highest, lowest + (byTime ? 60.0 : 1.0));
    auto fits = [&](double each) {
        return std::ceil(highest / each) - std::floor(lowest / each) <= kMostSteps;
    };
    double step = 1;
    if (byTime) {
        static constexpr double kSteps[] = {1,     2,     5,     10,    15,     30,    60,
                                            120,   300,   600,   900,   1800,   3600,  7200,
                                            10800, 21600, 43200, 86400, 172800, 604800};
        step = 0;
        for (double s : kSteps) {
            if (fits(s)) {
                step = s;
                break;
            }
        }
        if (step == 0) {
            step = 2 * 604800.0;
            while (!fits(step)) step *= 2;
        }
    } else {
        for (double decade = 1;; decade *= 10) {
            if (fits(decade))
                step = decade;
            else if (fits(2 * decade))
                step = 2 * decade;
            else if (fits(5 * decade))
                step = 5 * decade;
            else
                continue;
            break;
        }
    }
    axis.step = step;
    axis.min = std::floor(lowest / step) * step;
    axis.max = std::ceil(highest / step) * step;
    return axis;
}

void ReadingSummary::Part::add(double x, double v) {
    if (count++ == 0) {
        first = low = high = v;
        firstX = x;
    }
    last = v;
    lastX = x;
    low = std::min(low, v);
    high = std::max(high, v);
}

std::string ReadingSummary::unitLabel(const std::string& unit, bool isCode) {
    if (unit.empty()) return "(no unit name)";
    return isCode ? "unit code " + unit : unit;
}

ReadingSummary ReadingSummary::build(const SampleFeed& feed, const SummaryLimits& limits) {
    // Pass 1: the units, their channels and the range each spans.
    struct Seen {
        bool isCode = false;
        std::set<Integer> channels;
        bool any = false, timed = false, early = false;  // early: before the first stamp
        double lowTime = 0, highTime = 0, lowRecord = 0, highRecord = 0;
    };
    std::map<std::string, Seen, std::less<>> units;
    std::size_t pairs = 0;
    bool moreUnits = false;
    std::optional<std::int64_t> firstTime, time;
    ReadingSummary out;
    feed([&](const ChartSample& s) {
        ++out.records;
        if (s.kind == ChartSample::Kind::Stamp) {
            if (s.time) {
                time = s.time;
                if (!firstTime) firstTime = s.time;
            }
            return;
        }
        if (s.kind == ChartSample::Kind::Invalid) return;
        auto it = units.find(s.unit);
        if (it == units.end()) {
            if (units.size() >= kMaxUnitsSeen) {
                moreUnits = true;
                return;
            }
            it = units.emplace(std::string(s.unit), Seen{}).first;
            it->second.isCode = s.unitIsCode;
        }
        Seen& u = it->second;
        if ((pairs < kMaxPairsSeen || u.channels.empty()) && u.channels.insert(s.channel).second) {
            ++pairs;
        }
        u.lowRecord = u.any ? std::min(u.lowRecord, s.record) : s.record;
        u.highRecord = u.any ? std::max(u.highRecord, s.record) : s.record;
        if (time) {
            const double t = static_cast<double>(*time);
            u.lowTime = u.timed ? std::min(u.lowTime, t) : t;
            u.highTime = u.timed ? std::max(u.highTime, t) : t;
            u.timed = true;
        } else {
            u.early = true;
        }
        u.any = true;
    });

    // The charts: by their lowest channel, then unit; the rest named.
    // (Unit codes by their number: 7 before 12.)
    std::vector<std::tuple<Integer, long, std::string, const Seen*>> order;
    for (const auto& [unit, seen] : units) {
        const long code = seen.isCode ? std::strtol(unit.c_str(), nullptr, 10) : -1;
        order.emplace_back(*seen.channels.begin(), code, unit, &seen);
    }
    std::sort(order.begin(), order.end());
    const bool byTime = firstTime.has_value();
    bool anyShown = false;
    double low = 0, high = 0;
    std::map<std::string, std::size_t, std::less<>> chartOf;
    for (const auto& [lowest, code, unit, seen] : order) {
        if (out.charts.size() >= static_cast<std::size_t>(limits.charts)) {
            out.leftOutUnits.push_back(unitLabel(unit, seen->isCode));
            continue;
        }
        double from = seen->lowRecord, to = seen->highRecord;
        if (byTime) {
            // Readings before the first stamp sit at it.
            const double first = static_cast<double>(*firstTime);
            from = seen->timed ? seen->lowTime : first;
            to = seen->timed ? seen->highTime : first;
            if (seen->early) {
                from = std::min(from, first);
                to = std::max(to, first);
            }
        }
        low = anyShown ? std::min(low, from) : from;
        high = anyShown ? std::max(high, to) : to;
        anyShown = true;
        chartOf.emplace(unit, out.charts.size());
        Chart& c = out.charts.emplace_back();
        c.unit = unit;
        c.unitIsCode = seen->isCode;
        for (Integer channel : seen->channels) {
            if (c.lines.size() >= static_cast<std::size_t>(limits.lines)) {
                ++out.leftOutLines;
                continue;
            }
            c.lines.emplace_back().channel = channel;
        }
    }
    if (moreUnits) out.leftOutUnits.push_back("more units than " + std::to_string(kMaxUnitsSeen));
    out.axis = ChartAxis::fit(byTime, low, high);
    out.columns = std::max(1, limits.columns);
    if (out.charts.empty()) return out;

    // Pass 2: the values into their columns.
    time = firstTime;
    out.records = 0;
    feed([&](const ChartSample& s) {
        ++out.records;
        if (s.kind == ChartSample::Kind::Stamp) {
            if (s.time) time = s.time;
            return;
        }
        if (s.kind == ChartSample::Kind::Invalid) return;
        const auto chart = chartOf.find(s.unit);
        if (chart == chartOf.end()) return;
        auto& lines = out.charts[chart->second].lines;
        const auto line = std::find_if(lines.begin(), lines.end(),
                                       [&](const Line& l) { return l.channel == s.channel; });
        if (line == lines.end()) return;
        const double x = byTime ? static_cast<double>(*time) : s.record;
        if (line->columns.empty()) line->columns.resize(static_cast<std::size_t>(out.columns));
        Column& col = line->columns[static_cast<std::size_t>(out.axis.column(x, out.columns))];
        if (s.kind == ChartSample::Kind::Overload) {
            ++line->overloads;
            if (!col.overload) col.overloadX = x;
            col.overload = true;
            return;
        }
        (col.overload ? col.after : col.before).add(x, s.value);
        line->low = line->readings == 0 ? s.value : std::min(line->low, s.value);
        line->high = line->readings == 0 ? s.value : std::max(line->high, s.value);
        ++line->readings;
        ++out.readings;
    });
    return out;
}

}  // namespace vantor::gui
