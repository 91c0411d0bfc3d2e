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

void appendRecordLine(std::string& line, Long sequence, const Reading& r, const UnitNames& names,
                      RecordItems* items) {
    const std::size_t start = line.size();
    RecordItems at;
    appendInteger(line, sequence);
    at.sequenceEnd = line.size();
    line.push_back(',');
    if (r.kind == Reading::Kind::TimeStamp) {
        line.push_back('"');
        at.valueAt = line.size();
        line.append(r.stamp);
        at.valueEnd = line.size();
        line.append("\",\"Time\",0");
        at.unitAt = at.valueEnd + 3;
        at.unitEnd = at.unitAt + 4;
        at.unitQuoted = true;
    } else {
        at.valueAt = line.size();
        // The text comes from the digits; it is what the number format gives
        // for the value, only without going through binary.
        if (!appendScaledDecimal(line, r.negative, r.digits, r.scale)) appendNumber(line, r.value);
        at.valueEnd = line.size();
        line.push_back(',');
        at.unitQuoted = r.kind == Reading::Kind::Extended && inTable(r.unitCode);
        if (at.unitQuoted) {
            line.push_back('"');
            at.unitAt = line.size();
            line.append(names[static_cast<std::size_t>(r.unitCode)].view());
            at.unitEnd = line.size();
            line.push_back('"');
        } else {
            // A simple reading, or an extended one without a table entry: the code.
            at.unitAt = line.size();
            appendInteger(line, r.unitCode);
            at.unitEnd = line.size();
        }
        line.push_back(',');
        appendInteger(line, r.channel);
    }
    if (items != nullptr) {
        for (std::size_t* offset :
             {&at.sequenceEnd, &at.valueAt, &at.valueEnd, &at.unitAt, &at.unitEnd}) {
            *offset -= start;
        }
        *items = at;
    }
}

bool hasUnnamedUnit(const Reading& r, const UnitNames& names) {
    return r.kind == Reading::Kind::Extended && inTable(r.unitCode) &&
           names[static_cast<std::size_t>(r.unitCode)] == Text10();
}

}  // namespace vantor
