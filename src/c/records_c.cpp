#include <vantor/data_file.h>
#include <vantor/export.h>
#include <vantor/vantor_comm_c.h>

#include <optional>
#include <string>

#include "c/c_calls.h"

struct vantor_records {
    vantor::DataFileReader reader;
    vantor::DataRecord current;
    std::string error;
    vantor::MeterClock clock;
    std::optional<vantor::MeterClock::Time> time;
};

namespace {

using namespace vantor::capi;

// By reference: a value out of the enumeration's range must not be loaded
// as one (undefined behaviour, which UBSan traps).
vantor::DateOrder dateOrder(const vantor_date_order& order) {
    switch (enumValue(order)) {
        case VANTOR_DATE_YMD:
            return vantor::DateOrder::Ymd;
        case VANTOR_DATE_DMY:
            return vantor::DateOrder::Dmy;
        case VANTOR_DATE_MDY:
            return vantor::DateOrder::Mdy;
        default:
            break;
    }
    throw invalid("the date order " + std::to_string(enumValue(order)) +
                  " is none of VANTOR_DATE_YMD, _DMY, _MDY");
}

}  // namespace

extern "C" {

vantor_status vantor_records_open(const char* path, vantor_records** out) {
    return guarded(createError, [&] {
        need(out, "records") = nullptr;
        *out = new vantor_records{
            vantor::DataFileReader(text(path, "path")), {}, {}, vantor::MeterClock(), {}};
    });
}
vantor_status vantor_records_next(vantor_records* r, vantor_record* record, vantor_boolean* more) {
    if (r == nullptr) return vantor::kErrInvalidCall;
    return guarded(r->error, [&] {
        need(record, "record");
        need(more, "more") = VANTOR_FALSE;
        if (r->reader.atEnd()) return;
        r->current = r->reader.read();
        const vantor::DataRecord& d = r->current;
        if (d.isTimeStamp()) r->time = r->clock.read(d.value);
        *record =
            vantor_record{d.sequence.c_str(),
                          d.sequence.size(),
                          d.value.c_str(),
                          d.value.size(),
                          d.unit.c_str(),
                          d.unit.size(),
                          static_cast<vantor_boolean>(d.unitQuoted ? VANTOR_TRUE : VANTOR_FALSE),
                          d.channel,
                          static_cast<vantor_boolean>(r->time ? VANTOR_TRUE : VANTOR_FALSE),
                          r->time ? r->time->epochSeconds : 0,
                          r->time ? r->time->offsetSeconds : 0};
        *more = VANTOR_TRUE;
    });
}
vantor_status vantor_records_set_clock(vantor_records* r, vantor_date_order order,
                                       const char* zone) {
    if (r == nullptr) return vantor::kErrInvalidCall;
    return guarded(r->error, [&] {
        r->clock = vantor::MeterClock(dateOrder(order), zone == nullptr ? "" : zone);
    });
}
vantor_status vantor_export(const char* data_file, const char* out, vantor_export_format format,
                            vantor_export_layout layout, vantor_date_order order, const char* zone,
                            int64_t* rows, int64_t* bad_stamps) {
    return guarded(createError, [&] {
        vantor::ExportOptions options;
        const long long f = enumValue(format), l = enumValue(layout);
        if (f < VANTOR_EXPORT_CSV || f > VANTOR_EXPORT_JSONL) {
            throw invalid("the format " + std::to_string(f) +
                          " is none of VANTOR_EXPORT_CSV, _TSV, _JSONL");
        }
        if (l != VANTOR_LAYOUT_LONG && l != VANTOR_LAYOUT_WIDE) {
            throw invalid("the layout " + std::to_string(l) +
                          " is none of VANTOR_LAYOUT_LONG, _WIDE");
        }
        options.format = static_cast<vantor::ExportFormat>(f);
        options.layout = l == VANTOR_LAYOUT_WIDE ? vantor::ExportLayout::PerStamp
                                                 : vantor::ExportLayout::PerReading;
        options.dateOrder = dateOrder(order);
        options.timeZone = zone == nullptr ? "" : zone;
        const vantor::ExportSummary s =
            vantor::exportDataFileTo(text(data_file, "data_file"), text(out, "out"), options);
        if (rows != nullptr) *rows = s.rows;
        if (bad_stamps != nullptr) *bad_stamps = s.badStamps;
    });
}
vantor_status vantor_keep_earlier_download(const char* path, char* buffer, size_t size,
                                           size_t* length) {
    return guarded(createError, [&] {
        copyOut(vantor::keepEarlierDownload(text(path, "path")), buffer, size, length);
    });
}
const char* vantor_records_error_description(const vantor_records* r) {
    return r == nullptr ? createError.c_str() : r->error.c_str();
}
void vantor_records_free(vantor_records* r) {
    delete r;
}

}  // extern "C"
