// The charts' summary of a running download, kept up with each record: a
// record adds to its column, and the summary is made again from the records
// so far only when a record needs a wider axis, a new chart or a new line.
// The axis grows by at least a step each time, so however long the download,
// a record costs the same on average.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "reading_summary.h"

namespace vantor::gui {

class LiveSummary {
  public:
    explicit LiveSummary(SummaryLimits limits);

    void clear();
    void add(const ChartSample& sample);
    const ReadingSummary& summary() const { return summary_; }

  private:
    struct Sample {
        ChartSample::Kind kind;
        bool unitIsCode;
        Integer channel;
        std::uint32_t unit;
        std::optional<std::int64_t> time;
        double record;
        double value;
    };

    void rebuild();
    // False when the summary must be made again for it.
    bool place(const Sample& s);

    SummaryLimits limits_;
    std::vector<Sample> samples_;
    std::vector<std::string> units_;
    std::map<std::string, std::uint32_t, std::less<>> unitIndex_;
    std::set<std::pair<std::uint32_t, Integer>> lines_;
    std::optional<std::int64_t> firstTime_, time_;
    ReadingSummary summary_;
};

}  // namespace vantor::gui
