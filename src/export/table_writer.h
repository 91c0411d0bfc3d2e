// Rows of an export as CSV (RFC 4180), TSV (the same with tabs) or JSON
// Lines, buffered into a file.
#pragma once

#include <vantor/export.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

class TableWriter {
  public:
    struct Cell {
        enum class Kind { Empty, Number, Text };
        Kind kind = Kind::Empty;
        std::string_view text;
    };

    TableWriter(std::FILE* out, ExportFormat format, std::vector<std::string> names);
    // CSV and TSV start with the names.
    void header();
    void row(const std::vector<Cell>& cells);
    // Hands everything to `out`; throws RuntimeError 61 or 75 when it failed.
    void finish();

  private:
    void field(std::string_view text);
    void jsonString(std::string_view text);
    void spill();

    std::FILE* out_;
    ExportFormat format_;
    std::vector<std::string> names_;
    std::string buffer_;
};

}  // namespace vantor
