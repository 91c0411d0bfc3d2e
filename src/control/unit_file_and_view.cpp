// The unit file and the data view, on the control's file table and grid.
#include "control/control_parts.h"
#include "files/data_view.h"
#include "files/unit_file.h"

namespace vantor {

namespace {

// Closes a file number on every way out.
class FileGuard {
  public:
    FileGuard(FileTable& files, Integer number) : files_(files), number_(number) {}
    ~FileGuard() { files_.close(number_); }
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;

  private:
    FileTable& files_;
    Integer number_;
};

}  // namespace

void Vantor_Comm::ReadUnitFile() {
    df = dataFileName(d_->m.sUnitFilePath, d_->dates.today());
    Integer number = d_->files.FreeFile();
    const String path = unitFileName(d_->m.sUnitFilePath);
    ItemReader& in = d_->files.openInput(number, path);
    FileGuard guard(d_->files, number);
    checkUnitFileSize(in, path);
    loadUnitNames(in, d_->m.sUnitName);
}

void Vantor_Comm::ViewData() {
    if (datano < 1) throw RuntimeError(kErrSubscript);
    std::vector<DataRecord> records;
    {
        Integer number = d_->files.FreeFile();
        ItemReader& in = d_->files.openInput(number, df);
        FileGuard guard(d_->files, number);
        records = readDataRecords(in, datano);
    }
    fillDataGrid(d_->grid, records);
}

}  // namespace vantor
