#include "files/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace vantor {

void appendNumber(std::string& out, double value) {
    if (value == 0 || std::isnan(value)) {
        // Negative zero is written 0; NaN never comes out of the decoder.
        out.append(std::isnan(value) ? "NAN" : "0");
        return;
    }
    char sci[40];
    // d.dddddddddddddde+XX: 15 significant digits, rounded, with the exponent
    // taken after rounding.
    auto res = std::to_chars(sci, sci + sizeof sci - 1, value, std::chars_format::scientific, 14);
    if (res.ec != std::errc()) {
        out.append("0");
        return;
    }
    *res.ptr = '\0';
    const char* p = sci;
    bool negative = *p == '-';
    if (negative) ++p;
    if (!std::isfinite(value)) {
        out.append(negative ? "-INF" : "INF");
        return;
    }
    char digits[15];
    int nd = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits[nd++] = *p;
    }
    int exponent = std::atoi(p + 1);

    if (exponent < -10 || exponent >= 15) {
        char gen[40];
        auto g = std::to_chars(gen, gen + sizeof gen, value, std::chars_format::general, 15);
        for (char* q = gen; q != g.ptr; ++q) out.push_back(*q == 'e' ? 'E' : *q);
        return;
    }
    while (nd > 1 && digits[nd - 1] == '0') --nd;  // trailing zeros
    if (negative) out.push_back('-');
    if (exponent < 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(digits, static_cast<std::size_t>(nd));
        return;
    }
    int whole = exponent + 1;  // digits before the point
    if (nd <= whole) {
        out.append(digits, static_cast<std::size_t>(nd));
        out.append(static_cast<std::size_t>(whole - nd), '0');
    } else {
        out.append(digits, static_cast<std::size_t>(whole));
        out.push_back('.');
        out.append(digits + whole, static_cast<std::size_t>(nd - whole));
    }
}

bool appendScaledDecimal(std::string& out, bool negative, long long digits, int scale) {
    if (digits < 0) {
        digits = -digits;
        negative = !negative;
    }
    if (scale < 0 || digits < 0) return false;
    if (digits == 0) {
        out.push_back('0');  // negative zero too
        return true;
    }
    char text[24];
    auto res = std::to_chars(text, text + sizeof text, digits);
    int n = static_cast<int>(res.ptr - text);
    int exponent = n - 1 - scale;
    if (exponent < -10 || exponent >= 15 || n > 15) return false;
    while (scale > 0 && text[n - 1] == '0') {
        --n;
        --scale;
    }
    if (negative) out.push_back('-');
    if (scale == 0) {
        out.append(text, static_cast<std::size_t>(n));
    } else if (scale >= n) {
        out.append("0.");
        out.append(static_cast<std::size_t>(scale - n), '0');
        out.append(text, static_cast<std::size_t>(n));
    } else {
        out.append(text, static_cast<std::size_t>(n - scale));
        out.push_back('.');
        out.append(text + n - scale, static_cast<std::size_t>(scale));
    }
    return true;
}

std::string formatNumber(double value) {
    std::string out;
    appendNumber(out, value);
    return out;
}

}  // namespace vantor
