// The export on small data files: the meter's clock in a zone and date
// order, and what each layout and format writes.
#include <gtest/gtest.h>
#include <vantor/export.h>

#include <cstdio>

#include "kit/files.h"

namespace vantor {
namespace {

TEST(MeterClock, DateOrdersAndADaylightSavingChange) {
    struct Case {
        DateOrder order;
        const char* zone;
        const char* stamp;
        const char* iso;  // empty: not a date and a time
    };
    const Case cases[] = {
        {DateOrder::Ymd, "UTC", "120604154815", "2012-06-04T15:48:15+00:00"},
        {DateOrder::Dmy, "UTC", "040612154815", "2012-06-04T15:48:15+00:00"},
        {DateOrder::Mdy, "UTC", "060412154815", "2012-06-04T15:48:15+00:00"},
        {DateOrder::Ymd, "UTC", "121304154815", ""},  // month 13
        {DateOrder::Ymd, "UTC", "1206041548", ""},    // too short
        {DateOrder::Ymd, "UTC", "12060415 815", ""},  // not digits
        {DateOrder::Ymd, "UTC", "120604246000", ""},  // hour 24
        // Europe/Berlin leaves +01:00 for +02:00 at 02:00 on 2026-03-29 ...
        {DateOrder::Ymd, "Europe/Berlin", "260329015959", "2026-03-29T01:59:59+01:00"},
        {DateOrder::Ymd, "Europe/Berlin", "260329030000", "2026-03-29T03:00:00+02:00"},
        {DateOrder::Ymd, "Europe/Berlin", "260329023000", "2026-03-29T03:30:00+02:00"},  // skipped
        // ... and goes back at 03:00 on 2026-10-25: 02:30 comes twice, the earlier counts.
        {DateOrder::Ymd, "Europe/Berlin", "261025023000", "2026-10-25T02:30:00+02:00"},
        {DateOrder::Ymd, "Europe/Berlin", "261025030000", "2026-10-25T03:00:00+01:00"},
    };
    for (const auto& c : cases) {
        const auto t = MeterClock(c.order, c.zone).read(c.stamp);
        EXPECT_EQ(t ? MeterClock::iso(*t) : "", c.iso) << c.stamp << " in " << c.zone;
    }
    // Only the time-zone database's names: Qt alone would read these as UTC.
    for (const char* zone : {"Mars/Olympus", "Berlin", "CEST", "PST", "abc"}) {
        EXPECT_THROW(MeterClock(DateOrder::Ymd, zone), RuntimeError) << zone;
    }
}

std::string exported(const std::string& data, ExportFormat format, ExportLayout layout,
                     ExportSummary* summary = nullptr) {
    testing::ScratchDir dir;
    testing::writeFile(dir.file("d.dat"), data);
    std::FILE* out = std::fopen(dir.file("out").c_str(), "wb");
    const ExportSummary s =
        exportDataFile(dir.file("d.dat"), out, {format, layout, DateOrder::Ymd, "UTC"});
    std::fclose(out);
    if (summary != nullptr) *summary = s;
    return testing::readFile(dir.file("out"));
}

// A stamp, readings of two channels, an overload, a value that is no number,
// units with a comma and a quote, a stamp that is no time, a channel
// missing at the second stamp, and values that are no finite number.
const std::string kData =
    "0,1.5,12,5\r\n"
    "1,\"120604154815\",\"Time\",0\r\n"
    "2,21.53,\"degC      \",1\r\n"
    "3,999999,\"V         \",2\r\n"
    "4,x,\"a, b      \",3\r\n"
    "5,7,12\"x,4\r\n"
    "6,\"999999999999\",\"Time\",0\r\n"
    "7,1.2345E+20,\"degC      \",1\r\n"
    "8,nan,\"V         \",2\r\n"
    "9,-INF,\"a, b      \",3\r\n"
    "10,1e999,12,5\r\n";

TEST(Export, LongLayoutInEachFormat) {
    ExportSummary summary;
    EXPECT_EQ(exported(kData, ExportFormat::Csv, ExportLayout::PerReading, &summary),
              "record,time,stamp,channel,value,unit,status\r\n"
              "0,,,5,1.5,12,ok\r\n"
              "2,2012-06-04T15:48:15+00:00,120604154815,1,21.53,degC,ok\r\n"
              "3,2012-06-04T15:48:15+00:00,120604154815,2,,V,overload\r\n"
              "4,2012-06-04T15:48:15+00:00,120604154815,3,,\"a, b\",invalid\r\n"
              "5,2012-06-04T15:48:15+00:00,120604154815,4,7,\"12\"\"x\",ok\r\n"
              "7,,999999999999,1,1.2345E+20,degC,ok\r\n"
              "8,,999999999999,2,,V,invalid\r\n"
              "9,,999999999999,3,,\"a, b\",invalid\r\n"
              "10,,999999999999,5,,12,invalid\r\n");
    EXPECT_EQ(summary.badStamps, 1);
    EXPECT_EQ(summary.firstBadStampRecord, 6);
    const std::string tsv = exported(kData, ExportFormat::Tsv, ExportLayout::PerReading);
    EXPECT_NE(tsv.find("4\t2012-06-04T15:48:15+00:00\t120604154815\t3\t\ta, b\tinvalid\r\n"),
              std::string::npos)
        << tsv;
    const std::string json = exported(kData, ExportFormat::JsonLines, ExportLayout::PerReading);
    EXPECT_EQ(json.substr(0, json.find('\n', json.find('\n') + 1) + 1),
              "{\"record\":0,\"time\":null,\"stamp\":null,\"channel\":5,\"value\":1.5,"
              "\"unit\":\"12\",\"status\":\"ok\"}\n"
              "{\"record\":2,\"time\":\"2012-06-04T15:48:15+00:00\",\"stamp\":\"120604154815\","
              "\"channel\":1,\"value\":21.53,\"unit\":\"degC\",\"status\":\"ok\"}\n");
    EXPECT_NE(json.find("\"unit\":\"12\\\"x\""), std::string::npos) << json;
    EXPECT_NE(json.find("{\"record\":8,\"time\":null,\"stamp\":\"999999999999\",\"channel\":2,"
                        "\"value\":null,\"unit\":\"V\",\"status\":\"invalid\"}\n"),
              std::string::npos)
        << json;
}

TEST(Export, AHostsValueThatIsNoNumberIsInvalid) {
    testing::ScratchDir dir;
    std::FILE* out = std::fopen(dir.file("out").c_str(), "wb");
    ReadingWriter writer(out, ExportFormat::JsonLines);
    for (const char* value : {"nan", "-inf", "2.5"}) {
        ReadingRow row;
        row.record = "1";
        row.value = value;
        row.unit = "V";
        row.status = "ok";
        writer.write(row);
    }
    writer.finish();
    std::fclose(out);
    EXPECT_EQ(testing::readFile(dir.file("out")),
              "{\"record\":1,\"time\":null,\"stamp\":null,\"channel\":0,\"value\":null,"
              "\"unit\":\"V\",\"status\":\"invalid\"}\n"
              "{\"record\":1,\"time\":null,\"stamp\":null,\"channel\":0,\"value\":null,"
              "\"unit\":\"V\",\"status\":\"invalid\"}\n"
              "{\"record\":1,\"time\":null,\"stamp\":null,\"channel\":0,\"value\":2.5,"
              "\"unit\":\"V\",\"status\":\"ok\"}\n");
}

TEST(Export, WideLayoutLeavesAMissingReadingEmpty) {
    EXPECT_EQ(exported(kData, ExportFormat::Csv, ExportLayout::PerStamp),
              "time,stamp,5 12,1 degC,2 V,\"3 a, b\",\"4 12\"\"x\"\r\n"
              ",,1.5,,,,\r\n"
              "2012-06-04T15:48:15+00:00,120604154815,,21.53,,,7\r\n"
              ",999999999999,,1.2345E+20,,,\r\n");
}

}  // namespace
}  // namespace vantor
