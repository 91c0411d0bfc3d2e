#include <vantor/date_source.h>
#include <windows.h>

namespace vantor {

Date LocalDateSource::today() const {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    return Date{local.wYear, local.wMonth, local.wDay};
}

}  // namespace vantor
