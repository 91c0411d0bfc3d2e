#include "decode/frame_decoder.h"

#include <charconv>
#include <cmath>

#include "platform/number_format.h"

namespace vantor {

namespace {

double powerOfTen(int n) {
    static constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return n >= 0 && n <= 22 ? kExact[n] : std::pow(10.0, n);
}

void appendInteger(std::string& out, long long value) {
    if (value >= 0 && value <= 9) {
        out.push_back(static_cast<char>('0' + value));
        return;
    }
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

bool isDigitValue(Integer x) {
    return x >= 0 && x <= 9;
}

void appendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    out.append(text);
    out.push_back('"');
}

}  // namespace

void decodeCells(ControlPublic& pub, ControlPrivate& m, Long sequence, std::string& line) {
    pub.UnitIndex = unitCodeOf(m);
    const Integer kind = cell(m, 1);
    const Integer b2 = cell(m, 2);

    appendInteger(line, sequence);
    line.push_back(',');

    if (kind == 4 && b2 == 0) {
        line.push_back('"');
        for (int pos = 3; pos <= 14; ++pos) appendInteger(line, cell(m, pos));
        line.append("\",\"Time\",0");
        return;
    }

    // The reading's text is written from its digits, which is what the
    // number format gives for dValue, only without going through binary.
    long long digits = 0;
    int textScale = 0;
    bool negative = false;
    if (kind == 4) {
        if (!isDigitValue(cell(m, 11))) {
            m.dValue = kInvalidValue;
            digits = static_cast<long long>(kInvalidValue);
        } else {
            double value = 0;
            for (int pos = 7; pos <= 14; ++pos) {
                value = value * 10 + cell(m, pos);
                digits = digits * 10 + cell(m, pos);
            }
            const int scale = cell(m, 6);
            if (scale <= 6) {
                value /= powerOfTen(scale);
                textScale = scale;
            } else if (scale >= 7 && scale <= 9) {
                value *= powerOfTen(scale - 6);
                digits *= static_cast<long long>(powerOfTen(scale - 6));
            }
            negative = cell(m, 5) == 1;
            if (negative) value = -value;
            m.dValue = value;
        }
        const Integer channel = hexAdjust(b2);
        m.iDigit[13] = channel;
        if (!appendScaledDecimal(line, negative, digits, textScale)) appendNumber(line, m.dValue);
        line.push_back(',');
        if (pub.UnitIndex >= 0 && pub.UnitIndex <= 300) {
            appendQuoted(line, m.sUnitName[static_cast<std::size_t>(pub.UnitIndex)].view());
        } else {
            // No table entry: keep the reading, with its code as a simple reading has it.
            appendInteger(line, pub.UnitIndex);
        }
        line.push_back(',');
        appendInteger(line, channel);
        return;
    }

    if (!isDigitValue(cell(m, 11))) {
        m.dValue = kInvalidValue;
        digits = static_cast<long long>(kInvalidValue);
    } else {
        digits = cell(m, 11) * 1000LL + cell(m, 12) * 100LL + cell(m, 13) * 10LL + cell(m, 14);
        double value = static_cast<double>(digits);
        value /= powerOfTen(cell(m, 6));
        textScale = cell(m, 6);
        negative = kind == 1 || kind == 3;
        if (negative) value = -value;
        m.dValue = value;
    }
    if (!appendScaledDecimal(line, negative, digits, textScale)) appendNumber(line, m.dValue);
    line.push_back(',');
    appendInteger(line, pub.UnitIndex);
    line.push_back(',');
    appendInteger(line, b2);
}

}  // namespace vantor
