// Numbers as the data file writes them, whatever the locale.
#pragma once

#include <vantor/data_file.h>

#include <string>

namespace vantor {

// formatNumber (<vantor/data_file.h>): rounded to 15 significant digits.
// With a decimal exponent e in -10 <= e < 15 the number is written in plain
// decimal notation (no exponent, no trailing zeros, no point when whole, "0."
// before a fraction below 1); outside that range as C's "%.15G" writes it in
// the C locale. Negative zero is written 0.
// Appends the same text to `out` without allocating a temporary.
void appendNumber(std::string& out, double value);
// Appends the text formatNumber gives for (negative ? -1 : 1) * digits / 10^scale,
// written straight from the digits, and returns true; returns false, writing
// nothing, when that number needs the exponent form or more than 15 digits.
bool appendScaledDecimal(std::string& out, bool negative, long long digits, int scale);

}  // namespace vantor
