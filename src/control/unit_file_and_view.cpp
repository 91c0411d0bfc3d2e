// The unit file and the data view, on the control's file table and grid.
#include "control/vantor_comm.h"
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
    df = dataFileName(m_.sUnitFilePath, dates_.today());
    Integer number = files_.FreeFile();
    ItemReader& in = files_.openInput(number, unitFileName(m_.sUnitFilePath));
    FileGuard guard(files_, number);
    loadUnitNames(in, m_.sUnitName);
}

void Vantor_Comm::ViewData() {
    if (datano < 1) throw RuntimeError(kErrSubscript);
    std::vector<DataRecord> records;
    {
        Integer number = files_.FreeFile();
        ItemReader& in = files_.openInput(number, df);
        FileGuard guard(files_, number);
        records = readDataRecords(in, datano);
    }
    fillDataGrid(grid_, records);
}

}  // namespace vantor
