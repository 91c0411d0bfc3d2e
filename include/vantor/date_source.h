// The local date, as a backend: a host may give the control another.
#pragma once

namespace vantor {

struct Date {
    int year = 0, month = 0, day = 0;
};

class DateSource {
  public:
    virtual ~DateSource() = default;
    virtual Date today() const = 0;
};

// Today's date from the local clock.
class LocalDateSource : public DateSource {
  public:
    Date today() const override;
};

}  // namespace vantor
