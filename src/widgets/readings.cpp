#include "widgets/readings.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "decode/frame_decoder.h"

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

}  // namespace

std::map<Integer, std::vector<ReadingPoint>> readingsByChannel(const DataGrid& grid) {
    std::map<Integer, std::vector<ReadingPoint>> out;
    if (grid.Cols() < 4) return out;
    for (Long row = 1; row < grid.Rows(); ++row) {
        if (grid.TextMatrix(row, 3) == "Time") continue;
        auto value = number(grid.TextMatrix(row, 2));
        auto channel = number(grid.TextMatrix(row, 1));
        auto record = number(grid.TextMatrix(row, 0));
        if (!value || !channel || *value == kInvalidValue) continue;
        out[static_cast<Integer>(*channel)].push_back(
            {record ? static_cast<Long>(*record) : row, *value});
    }
    return out;
}

}  // namespace vantor
