#include <vantor/grid_readings.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <map>
#include <string_view>
#include <tuple>
#include <utility>

#include "protocol/reading.h"

namespace vantor {

namespace {

// The whole cell must be the number; the data file's numbers never depend on
// the locale, and neither does this.
std::optional<double> number(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<int> twoDigits(const std::string& text, std::size_t at) {
    if (at + 2 > text.size()) return std::nullopt;
    const char a = text[at], b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
    return (a - '0') * 10 + (b - '0');
}

std::string withoutPadding(std::string unit) {
    while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\0')) unit.pop_back();
    return unit;
}

bool allDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789-") == std::string::npos;
}

}  // namespace

std::optional<std::int64_t> stampSeconds(const std::string& text) {
    if (text.size() != 15 || text[6] != ' ' || text[9] != ':' || text[12] != ':') {
        return std::nullopt;
    }
    const auto yy = twoDigits(text, 0), mm = twoDigits(text, 2), dd = twoDigits(text, 4);
    const auto h = twoDigits(text, 7), m = twoDigits(text, 10), s = twoDigits(text, 13);
    if (!yy || !mm || !dd || !h || !m || !s || *h > 23 || *m > 59 || *s > 59) return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{year(2000 + *yy), month(static_cast<unsigned>(*mm)),
                              day(static_cast<unsigned>(*dd))};
    if (!date.ok()) return std::nullopt;
    return sys_days(date).time_since_epoch().count() * 86400LL + *h * 3600 + *m * 60 + *s;
}

std::vector<ReadingSeries> readingSeries(const DataGrid& grid) {
    return readingSeries(grid, stampSeconds);
}

std::vector<ReadingSeries> readingSeries(
    const DataGrid& grid,
    const std::function<std::optional<std::int64_t>(const std::string&)>& seconds) {
    std::vector<ReadingSeries> out;
    if (grid.Cols() < 4) return out;
    std::optional<std::int64_t> first;
    for (Long row = 1; row < grid.Rows() && !first; ++row) {
        if (grid.TextMatrix(row, 3) == "Time") first = seconds(grid.TextMatrix(row, 2));
    }
    std::map<std::pair<std::string, Integer>, std::size_t> index;  // (unit, channel)
    std::optional<std::int64_t> time = first;
    for (Long row = 1; row < grid.Rows(); ++row) {
        const String& unitCell = grid.TextMatrix(row, 3);
        if (unitCell == "Time") {
            if (auto t = seconds(grid.TextMatrix(row, 2))) time = t;
            continue;
        }
        auto value = number(grid.TextMatrix(row, 2));
        auto channel = number(grid.TextMatrix(row, 1));
        auto record = number(grid.TextMatrix(row, 0));
        if (!value || !channel || *value == kInvalidValue) continue;
        const std::string unit = withoutPadding(unitCell);
        const auto key = std::make_pair(unit, static_cast<Integer>(*channel));
        auto [it, added] = index.try_emplace(key, out.size());
        if (added) out.push_back({key.second, unit, allDigits(unitCell), {}});
        out[it->second].points.push_back({record ? static_cast<Long>(*record) : row, time, *value});
    }
    std::sort(out.begin(), out.end(), [](const ReadingSeries& a, const ReadingSeries& b) {
        return std::tie(a.unit, a.channel) < std::tie(b.unit, b.channel);
    });
    return out;
}

}  // namespace vantor
