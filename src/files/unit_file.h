// The unit-name file and the name of the day's data file.
#pragma once

#include <vantor/data_file.h>
#include <vantor/date_source.h>
#include <vantor/types.h>

#include <array>

#include "files/item_reader.h"

namespace vantor {

// Stores item 2 of every line into the table from entry 0 up; item 1 is read
// and discarded. Entries past the last line keep what they held. Error 9 when
// a 302nd name is about to be stored (the first 301 stay), 62 when the file
// ends after an odd number of items.
void loadUnitNames(ItemReader& in, std::array<Text10, 301>& names);
// Error 75 naming `path` when `in` is far larger than any unit file.
void checkUnitFileSize(const ItemReader& in, const String& path);

}  // namespace vantor
