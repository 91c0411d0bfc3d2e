#include "files/item_reader.h"

#include <vantor/errors.h>

#include <charconv>
#include <cmath>

namespace vantor {

namespace {
bool isBlank(int c) {
    return c == ' ' || c == '\t';
}
bool isLineEnd(int c) {
    return c == '\r' || c == '\n';
}
}  // namespace

long long ItemReader::size() const {
    return file_.size();
}

bool ItemReader::fill() {
    at_ = 0;
    filled_ = file_.read(buffer_, sizeof buffer_);
    return filled_ > 0;
}

void ItemReader::push(String& item, int c) const {
    if (item.size() >= kMaxItem) {
        throw RuntimeError(kErrPathFileAccess, standardDescription(kErrPathFileAccess) + ": " +
                                                   file_.path() + " has an item longer than " +
                                                   std::to_string(kMaxItem) +
                                                   " characters; it is not a file of this program");
    }
    item.push_back(static_cast<char>(c));
}

int ItemReader::peek() {
    if (at_ < filled_ || fill()) return static_cast<unsigned char>(buffer_[at_]);
    return kEnd;
}

void ItemReader::skipLineEnd(int c) {
    if (c == '\r' && peek() == '\n') get();
}

bool ItemReader::atEnd() {
    for (;;) {
        int c = peek();
        if (c == kEnd) return true;
        if (!isLineEnd(c)) return false;
        get();
    }
}

String ItemReader::readText() {
    int c = get();
    if (c == kEnd) throw RuntimeError(kErrInputPastEnd);
    while (isBlank(c)) c = get();

    String item;
    lastQuoted_ = c == '"';
    if (c == '"') {
        // A quote left open ends at the line end: an item never spans lines, so
        // a broken unit file cannot put a line break into a data-file line.
        while ((c = get()) != kEnd && c != '"' && !isLineEnd(c)) {
            push(item, c);
        }
        // Whatever follows the closing quote up to the separator is not part of the item.
        if (c == '"') {
            while ((c = get()) != kEnd && c != ',' && !isLineEnd(c)) {
            }
        }
    } else {
        while (c != kEnd && c != ',' && !isLineEnd(c)) {
            push(item, c);
            c = get();
        }
    }
    if (isLineEnd(c)) skipLineEnd(c);
    return item;
}

Integer ItemReader::readInteger() {
    return parseIntegerItem(readText());
}

Integer parseIntegerItem(const String& item) {
    std::size_t b = 0, e = item.size();
    while (b < e && isBlank(static_cast<unsigned char>(item[b]))) ++b;
    while (e > b && isBlank(static_cast<unsigned char>(item[e - 1]))) --e;
    if (b == e) return 0;
    const char* first = item.data() + b;
    const char* last = item.data() + e;
    if (*first == '+') ++first;
    double value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc::result_out_of_range) throw RuntimeError(kErrOverflow);
    if (ec != std::errc() || ptr != last || first == last) throw RuntimeError(kErrTypeMismatch);
    if (!std::isfinite(value)) throw RuntimeError(kErrTypeMismatch);
    double rounded = std::nearbyint(value);  // the default rounding mode is half to even
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) throw RuntimeError(kErrOverflow);
    return static_cast<Integer>(rounded);
}

}  // namespace vantor
