// A date source that always gives the date it was set to.
#pragma once

#include <vantor/date_source.h>

namespace vantor {

class FixedDateSource : public DateSource {
  public:
    explicit FixedDateSource(Date fixed) : date(fixed) {}
    Date today() const override { return date; }
    Date date;
};

}  // namespace vantor
