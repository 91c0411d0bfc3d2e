#include "protocol/reading.h"

#include <cmath>

namespace vantor {

namespace {

double powerOfTen(int n) {
    static constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return n >= 0 && n <= 22 ? kExact[n] : std::pow(10.0, n);
}

bool isDigitValue(Integer x) {
    return x >= 0 && x <= 9;
}

}  // namespace

Reading decodeReading(const Cells& cells) {
    auto cell = [&](int position) { return cellAt(cells, position); };
    Reading r;
    r.unitCode = unitCodeOf(cells);
    const Integer kind = cell(1);
    const Integer b2 = cell(2);

    if (kind == 4 && b2 == 0) {
        r.kind = Reading::Kind::TimeStamp;
        for (int pos = 3; pos <= 14; ++pos) r.stamp += std::to_string(cell(pos));
        return r;
    }

    if (kind == 4) {
        r.kind = Reading::Kind::Extended;
        r.channel = hexAdjust(b2);
        if (!isDigitValue(cell(11))) {
            r.value = kInvalidValue;
            r.digits = static_cast<long long>(kInvalidValue);
            return r;
        }
        double value = 0;
        for (int pos = 7; pos <= 14; ++pos) {
            value = value * 10 + cell(pos);
            r.digits = r.digits * 10 + cell(pos);
        }
        const int scale = cell(6);
        if (scale <= 6) {
            value /= powerOfTen(scale);
            r.scale = scale;
        } else if (scale >= 7 && scale <= 9) {
            value *= powerOfTen(scale - 6);
            r.digits *= static_cast<long long>(powerOfTen(scale - 6));
        }
        r.negative = cell(5) == 1;
        r.value = r.negative ? -value : value;
        return r;
    }

    r.kind = Reading::Kind::Simple;
    r.channel = b2;
    if (!isDigitValue(cell(11))) {
        r.value = kInvalidValue;
        r.digits = static_cast<long long>(kInvalidValue);
        return r;
    }
    r.digits = cell(11) * 1000LL + cell(12) * 100LL + cell(13) * 10LL + cell(14);
    r.scale = cell(6);
    r.negative = kind == 1 || kind == 3;
    const double value = static_cast<double>(r.digits) / powerOfTen(r.scale);
    r.value = r.negative ? -value : value;
    return r;
}

}  // namespace vantor
