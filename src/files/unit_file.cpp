#include "files/unit_file.h"

#include <cstdio>

namespace vantor {

String dataFileName(const String& folder, const Date& date) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d", date.year % 10000, date.month % 100,
                  date.day % 100);
    return folder + "/" + digits + ".dat";
}

String unitFileName(const String& folder) {
    return folder + "/unit2.dat";
}

void loadUnitNames(ItemReader& in, std::array<Text10, 301>& names) {
    std::size_t k = 0;
    while (!in.atEnd()) {
        in.readText();
        String name = in.readText();
        if (k >= names.size()) throw RuntimeError(kErrSubscript);
        names[k] = name;
        ++k;
    }
}

}  // namespace vantor
