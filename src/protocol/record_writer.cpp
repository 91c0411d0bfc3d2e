#include "protocol/record_writer.h"

#include <charconv>

#include "files/number_format.h"

namespace vantor {

namespace {

void appendInteger(std::string& out, long long value) {
    if (value >= 0 && value <= 9) {
        out.push_back(static_cast<char>('0' + value));
        return;
    }
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

bool inTable(Integer code) {
    return code >= 0 && code <= 300;
}

}  // namespace

void appendRecordLine(std::string& line, Long sequence, const Reading& r, const UnitNames& names) {
    appendInteger(line, sequence);
    line.push_back(',');
    if (r.kind == Reading::Kind::TimeStamp) {
        line.push_back('"');
        line.append(r.stamp);
        line.append("\",\"Time\",0");
        return;
    }
    // The text comes from the digits; it is what the number format gives for
    // the value, only without going through binary.
    if (!appendScaledDecimal(line, r.negative, r.digits, r.scale)) appendNumber(line, r.value);
    line.push_back(',');
    if (r.kind == Reading::Kind::Extended && inTable(r.unitCode)) {
        line.push_back('"');
        line.append(names[static_cast<std::size_t>(r.unitCode)].view());
        line.push_back('"');
    } else {
        // A simple reading, or an extended one without a table entry: the code.
        appendInteger(line, r.unitCode);
    }
    line.push_back(',');
    appendInteger(line, r.channel);
}

bool hasUnnamedUnit(const Reading& r, const UnitNames& names) {
    return r.kind == Reading::Kind::Extended && inTable(r.unitCode) &&
           names[static_cast<std::size_t>(r.unitCode)] == Text10();
}

}  // namespace vantor
