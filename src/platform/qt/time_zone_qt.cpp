#include <vantor/errors.h>

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include "platform/time_zones.h"

namespace vantor {

namespace {

class QtZone : public TimeZoneRules {
  public:
    explicit QtZone(QTimeZone zone) : zone_(std::move(zone)) {}
    int offsetAt(std::int64_t utcSeconds) const override {
        return zone_.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSeconds, QTimeZone::utc()));
    }

  private:
    QTimeZone zone_;
};

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

std::shared_ptr<const TimeZoneRules> findTimeZone(const std::string& name) {
    if (name.empty()) return std::make_shared<QtZone>(QTimeZone::systemTimeZone());
    if (name == "UTC") return std::make_shared<QtZone>(QTimeZone::utc());
    // Qt reads a name it does not know ("Berlin", "CEST") as a rule of its
    // own, UTC with no change: only the database's names count.
    const QByteArray id = QByteArray::fromStdString(name);
    QTimeZone zone;
    if (inZoneDatabase(id)) zone = QTimeZone(id);
    if (!zone.isValid()) {
        throw RuntimeError(kErrInvalidCall, standardDescription(kErrInvalidCall) +
                                                ": unknown time zone " + name +
                                                " (give an IANA name such as Europe/Berlin, "
                                                "or UTC)");
    }
    return std::make_shared<QtZone>(std::move(zone));
}

}  // namespace vantor
