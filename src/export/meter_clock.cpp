#include <vantor/errors.h>
#include <vantor/export.h>

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QTime>
#include <QTimeZone>
#include <chrono>
#include <climits>
#include <cstdio>

namespace vantor {

struct MeterClock::Zone {
    QTimeZone zone;
    // The offsets a day before and after the last day asked for: equal on
    // all but the days of a change.
    mutable std::int64_t day = INT64_MIN;
    mutable int before = 0, after = 0;

    int offsetAt(std::int64_t instant) const {
        return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(instant, QTimeZone::utc()));
    }
};

namespace {

bool inZoneDatabase(const QByteArray& id) {
    if (QTimeZone::isTimeZoneIdAvailable(id)) return true;
    // Qt lists only the zones of zone.tab; the database's other names
    // (Etc/UTC, Europe/Kiev, US/Pacific), which it reads all the same, are
    // its files.
    if (id.isEmpty() || id.startsWith('/') || id.contains("..")) return false;
    for (const char* folder :
         {"/usr/share/zoneinfo/", "/usr/lib/zoneinfo/", "/usr/share/lib/zoneinfo/"}) {
        QFile file(QString::fromLatin1(folder) + QString::fromUtf8(id));
        if (file.open(QIODevice::ReadOnly)) return file.read(4) == "TZif";
    }
    return false;
}

}  // namespace

MeterClock::MeterClock(DateOrder order, const std::string& zone) : order_(order) {
    auto z = std::make_shared<Zone>();
    if (zone.empty()) {
        z->zone = QTimeZone::systemTimeZone();
    } else if (zone == "UTC") {
        z->zone = QTimeZone::utc();
    } else {
        // Qt reads a name it does not know ("Berlin", "CEST") as a rule of
        // its own, UTC with no change: only the database's names count.
        const QByteArray id = QByteArray::fromStdString(zone);
        if (inZoneDatabase(id)) z->zone = QTimeZone(id);
        if (!z->zone.isValid()) {
            throw RuntimeError(kErrInvalidCall, standardDescription(kErrInvalidCall) +
                                                    ": unknown time zone " + zone +
                                                    " (give an IANA name such as Europe/Berlin, "
                                                    "or UTC)");
        }
    }
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
    const QDate date(2000 + yy, mm, dd);
    if (!date.isValid() || n[3] > 23 || n[4] > 59 || n[5] > 59) return std::nullopt;
    // The clock's reading as if it were UTC; the zone's offsets, from its
    // database, then say which instant it is.
    const std::int64_t local =
        QDateTime(date, QTime(n[3], n[4], n[5]), QTimeZone::utc()).toSecsSinceEpoch();
    const Zone& z = *zone_;
    const std::int64_t day = local / 86400;
    if (day != z.day) {
        z.day = day;
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
