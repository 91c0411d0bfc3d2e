#include <vantor/errors.h>
#include <windows.h>

#include "platform/time_zones.h"

namespace vantor {

namespace {

class FixedZone : public TimeZoneRules {
  public:
    int offsetAt(std::int64_t) const override { return 0; }
};

// The machine's zone, with the rules Windows has for each year.
class LocalZone : public TimeZoneRules {
  public:
    int offsetAt(std::int64_t utcSeconds) const override {
        // FILETIME counts 100 ns from 1601.
        constexpr std::int64_t k1601 = 11644473600;
        const auto ticks = static_cast<std::uint64_t>(utcSeconds + k1601) * 10000000u;
        FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        SYSTEMTIME u{}, local{};
        DYNAMIC_TIME_ZONE_INFORMATION zone{};
        if (!::FileTimeToSystemTime(&utc, &u) ||
            ::GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID ||
            !::SystemTimeToTzSpecificLocalTimeEx(&zone, &u, &local)) {
            return 0;
        }
        FILETIME back{};
        if (!::SystemTimeToFileTime(&local, &back)) return 0;
        const std::uint64_t localTicks =
            (static_cast<std::uint64_t>(back.dwHighDateTime) << 32) | back.dwLowDateTime;
        return static_cast<int>((static_cast<std::int64_t>(localTicks / 10000000u) - k1601) -
                                utcSeconds);
    }
};

}  // namespace

std::shared_ptr<const TimeZoneRules> findTimeZone(const std::string& name) {
    if (name.empty()) return std::make_shared<LocalZone>();
    if (name == "UTC") return std::make_shared<FixedZone>();
    throw RuntimeError(kErrInvalidCall, standardDescription(kErrInvalidCall) +
                                            ": unknown time zone " + name +
                                            " (on Windows give UTC, or no zone for this "
                                            "machine's)");
}

}  // namespace vantor
