// A time zone's rules as the platform's database has them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vantor {

class TimeZoneRules {
  public:
    virtual ~TimeZoneRules() = default;
    // The zone's offset from UTC, in seconds, at `utcSeconds` since 1970.
    virtual int offsetAt(std::int64_t utcSeconds) const = 0;
};

// "" for the machine's zone, "UTC", or a name of the platform's zone
// database. Throws RuntimeError 5 naming a zone it does not know.
std::shared_ptr<const TimeZoneRules> findTimeZone(const std::string& name);

}  // namespace vantor
