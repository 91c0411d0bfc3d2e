#include "export/table_writer.h"

#include <vantor/errors.h>

#include <cerrno>
#include <cstring>

namespace vantor {

namespace {

// A text that is UTF-8 is written as it is; the meter's other bytes are
// taken as Latin-1, so that every line stays valid JSON.
bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80         ? 1
                              : (c >> 5) == 6  ? 2
                              : (c >> 4) == 14 ? 3
                              : (c >> 3) == 30 ? 4
                                               : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        }
        i += n;
    }
    return true;
}

}  // namespace

TableWriter::TableWriter(std::FILE* out, ExportFormat format, std::vector<std::string> names)
    : out_(out), format_(format), names_(std::move(names)) {}

void TableWriter::header() {
    if (format_ == ExportFormat::JsonLines) return;
    std::vector<Cell> cells;
    for (const std::string& name : names_) cells.push_back({Cell::Kind::Text, name});
    row(cells);
}

void TableWriter::field(std::string_view text) {
    const char separator = format_ == ExportFormat::Tsv ? '\t' : ',';
    if (text.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string_view::npos) {
        buffer_.append(text);
        return;
    }
    buffer_.push_back('"');
    for (char c : text) {
        if (c == '"') buffer_.push_back('"');
        buffer_.push_back(c);
    }
    buffer_.push_back('"');
}

void TableWriter::jsonString(std::string_view text) {
    const bool utf8 = validUtf8(text);
    buffer_.push_back('"');
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            buffer_.push_back('\\');
            buffer_.push_back(c);
        } else if (u < 0x20 || (u >= 0x80 && !utf8)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            buffer_.append(escaped);
        } else {
            buffer_.push_back(c);
        }
    }
    buffer_.push_back('"');
}

void TableWriter::row(const std::vector<Cell>& cells) {
    if (format_ == ExportFormat::JsonLines) {
        buffer_.push_back('{');
        for (std::size_t i = 0; i < cells.size() && i < names_.size(); ++i) {
            if (i > 0) buffer_.push_back(',');
            jsonString(names_[i]);
            buffer_.push_back(':');
            switch (cells[i].kind) {
                case Cell::Kind::Empty:
                    buffer_.append("null");
                    break;
                case Cell::Kind::Number:
                    buffer_.append(cells[i].text);
                    break;
                case Cell::Kind::Text:
                    jsonString(cells[i].text);
                    break;
            }
        }
        buffer_.append("}\n");
    } else {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i > 0) buffer_.push_back(format_ == ExportFormat::Tsv ? '\t' : ',');
            field(cells[i].text);
        }
        buffer_.append("\r\n");
    }
    if (buffer_.size() >= (1 << 16)) spill();
}

void TableWriter::spill() {
    if (!buffer_.empty() &&
        std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size()) {
        const int err = errno;
        buffer_.clear();
        throw RuntimeError(err == ENOSPC ? kErrDiskFull : kErrPathFileAccess,
                           standardDescription(err == ENOSPC ? kErrDiskFull : kErrPathFileAccess) +
                               ": the export could not be written (" + std::strerror(err) + ")");
    }
    buffer_.clear();
}

void TableWriter::finish() {
    spill();
    if (std::fflush(out_) != 0) {
        const int err = errno;
        throw RuntimeError(err == ENOSPC ? kErrDiskFull : kErrPathFileAccess,
                           standardDescription(err == ENOSPC ? kErrDiskFull : kErrPathFileAccess) +
                               ": the export could not be written (" + std::strerror(err) + ")");
    }
}

}  // namespace vantor
