#include <vantor/errors.h>
#include <vantor/export.h>

#include <chrono>
#include <climits>
#include <cstdio>

#include "platform/time_zones.h"

namespace vantor {

struct MeterClock::Zone {
    std::shared_ptr<const TimeZoneRules> rules;
    // The offsets a day before and after the last day asked for: equal on
    // all but the days of a change.
    mutable std::int64_t day = INT64_MIN;
    mutable int before = 0, after = 0;

    int offsetAt(std::int64_t instant) const { return rules->offsetAt(instant); }
};

MeterClock::MeterClock(DateOrder order, const std::string& zone) : order_(order) {
    auto z = std::make_shared<Zone>();
    z->rules = findTimeZone(zone);
    zone_ = std::move(z);
}

std::optional<MeterClock::Time> MeterClock::read(const std::string& stamp) const {
    if (stamp.size() != 12) return std::nullopt;
    int n[6];
    for (int i = 0; i < 6; ++i) {
        const char a = stamp[static_cast<std::size_t>(2 * i)];
        const char b = stamp[static_cast<std::size_t>(2 * i + 1)];
        if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
        n[i] = (a - '0') * 10 + (b - '0');
    }
    int yy = n[0], mm = n[1], dd = n[2];
    if (order_ == DateOrder::Dmy) {
        dd = n[0], mm = n[1], yy = n[2];
    } else if (order_ == DateOrder::Mdy) {
        mm = n[0], dd = n[1], yy = n[2];
    }
    using namespace std::chrono;
    const year_month_day date{year(2000 + yy), month(static_cast<unsigned>(mm)),
                              day(static_cast<unsigned>(dd))};
    if (!date.ok() || n[3] > 23 || n[4] > 59 || n[5] > 59) return std::nullopt;
    // The clock's reading as if it were UTC; the zone's offsets, from its
    // database, then say which instant it is.
    const std::int64_t local =
        static_cast<std::int64_t>(sys_days(date).time_since_epoch().count()) * 86400 + n[3] * 3600 +
        n[4] * 60 + n[5];
    const Zone& z = *zone_;
    const std::int64_t today = local / 86400;
    if (today != z.day) {
        z.day = today;
        z.before = z.offsetAt(local - 86400);
        z.after = z.offsetAt(local + 86400);
    }
    if (z.before == z.after) return Time{local - z.before, z.before};
    // A day with a change: the reading may fall under either offset, both
    // (a repeated hour: the earlier instant), or neither (a skipped hour:
    // it moves on by the gap, read with the offset before it).
    const std::int64_t underBefore = local - z.before, underAfter = local - z.after;
    const bool before = z.offsetAt(underBefore) == z.before;
    const bool after = z.offsetAt(underAfter) == z.after;
    if (before && after) {
        return underBefore < underAfter ? Time{underBefore, z.before} : Time{underAfter, z.after};
    }
    if (after) return Time{underAfter, z.after};
    if (before) return Time{underBefore, z.before};
    return Time{underBefore, z.offsetAt(underBefore)};
}

std::string MeterClock::iso(const Time& time) {
    using namespace std::chrono;
    const std::int64_t local = time.epochSeconds + time.offsetSeconds;
    const std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    const std::int64_t second = local - days * 86400;
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    const int offset = time.offsetSeconds < 0 ? -time.offsetSeconds : time.offsetSeconds;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d%c%02d:%02d",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(second / 3600),
                  static_cast<int>(second / 60 % 60), static_cast<int>(second % 60),
                  time.offsetSeconds < 0 ? '-' : '+', offset / 3600, offset / 60 % 60);
    return text;
}

}  // namespace vantor
