#include "files/unit_file.h"

#include <cstdio>

#include "files/file_table.h"
#include "platform/file_system.h"

namespace vantor {

String dataFileName(const String& folder, const Date& date) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d", date.year % 10000, date.month % 100,
                  date.day % 100);
    return inFolder(folder, std::string(digits) + ".dat");
}

String unitFileName(const String& folder) {
    return inFolder(folder, "unit2.dat");
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

void checkUnitFileSize(const ItemReader& in, const String& path) {
    // 301 short lines take a few kilobytes: anything near this is another file.
    constexpr long long kMaxUnitFile = 1 << 20;
    if (in.size() > kMaxUnitFile) {
        throw RuntimeError(kErrPathFileAccess,
                           standardDescription(kErrPathFileAccess) + ": " + path + " is " +
                               std::to_string(in.size()) +
                               " bytes, far more than a unit file of 301 lines (at most 1 MB): "
                               "is it the right file?");
    }
}

std::vector<std::string> readUnitNames(const String& folder) {
    const String path = unitFileName(folder);
    auto in = openItemReader(path);
    checkUnitFileSize(*in, path);
    std::array<Text10, 301> names;
    loadUnitNames(*in, names);
    std::vector<std::string> out;
    out.reserve(names.size());
    for (const Text10& name : names) {
        std::string s = name.str();
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
        out.push_back(std::move(s));
    }
    return out;
}

}  // namespace vantor
