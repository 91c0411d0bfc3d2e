#include <vantor/data_file.h>

#include "files/data_view.h"
#include "files/file_table.h"

namespace vantor {

DataFileReader::DataFileReader(const String& path) : items_(openItemReader(path)) {}
DataFileReader::~DataFileReader() = default;
DataFileReader::DataFileReader(DataFileReader&&) noexcept = default;
DataFileReader& DataFileReader::operator=(DataFileReader&&) noexcept = default;

bool DataFileReader::atEnd() {
    return items_->atEnd();
}

DataRecord DataFileReader::read() {
    return readDataRecord(*items_);
}

}  // namespace vantor
