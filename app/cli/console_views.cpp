#include "console_views.h"

#include <vantor/errors.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "exit_status.h"

namespace vantor::cli {

namespace {

constexpr auto kHintAfter = std::chrono::seconds(5);
const char* const kHint = "no data yet: press SEND on the meter, check the cable";

int outputErrno = 0;

// Control bytes would upset a terminal; show them as '.'.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) c = '.';
    }
    return out;
}

}  // namespace

ConsolePanelView::ConsolePanelView(Vantor_Comm& comm, std::FILE* out, bool terminal,
                                   std::string device)
    : comm_(comm),
      out_(out),
      terminal_(terminal),
      device_(std::move(device)),
      lastBytes_(std::chrono::steady_clock::now()) {
    StatusPanel& p = comm.Panel();
    watch(p.Label1[2], [this] { statusChanged(); });
    if (terminal_) {
        watch(p.Label1[4], [this] { redraw(); });
        watch(p.Shape1, [this] { redraw(); });
        watch(p.Label3, [this] { redraw(); });
        hintTimer_.setInterval(1000);
        QObject::connect(&hintTimer_, &QTimer::timeout, [this] {
            bool armed = comm_.Panel().Shape1.visible();
            bool hint = armed && std::chrono::steady_clock::now() - lastBytes_ >= kHintAfter;
            if (hint != hint_) {
                hint_ = hint;
                redraw();
            }
        });
        hintTimer_.start();
    }
    statusChanged();
}

ConsolePanelView::~ConsolePanelView() {
    for (auto& s : subscriptions_) s.model->unsubscribe(s.id);
    close();
}

void ConsolePanelView::watch(Observable& model, std::function<void()> fn) {
    subscriptions_.push_back({&model, model.subscribe(std::move(fn))});
}

void ConsolePanelView::noteBytes() {
    lastBytes_ = std::chrono::steady_clock::now();
    if (hint_) {
        hint_ = false;
        redraw();
    }
}

void ConsolePanelView::close() {
    hintTimer_.stop();
    if (lineOpen_) std::fputc('\n', out_);
    lineOpen_ = false;
    std::fflush(out_);
}

void ConsolePanelView::statusChanged() {
    const String& status = comm_.Panel().Label1[2].caption();
    if (terminal_) {
        redraw();
        return;
    }
    if (status == lastStatus_ || status.empty()) return;
    lastStatus_ = status;
    std::fprintf(out_, "%s\n", printable(status).c_str());
    std::fflush(out_);
}

void ConsolePanelView::redraw() {
    const StatusPanel& p = comm_.Panel();
    std::string line = "\r\x1b[K" + printable(p.Label1[2].caption());
    if (line.size() == 4) line += "Idle";
    line += "  |  records: " + printable(p.Label1[4].caption());
    if (p.Shape1.visible()) {
        line += p.Shape1.fillColour() == kIndicatorBlue ? "  (o)" : "  (*)";
    }
    if (p.Label3.visible()) line += " " + p.Label3.caption();
    if (!device_.empty() && p.Shape1.visible()) line += " on " + printable(device_);
    if (hint_) line += std::string("  -- ") + kHint;
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    lineOpen_ = true;
}

const TablePrinter::Row TablePrinter::kHeader{"No.", "Channel", "Value", "Unit"};

// A cell as the aligned table shows it. A unit name of NULs is an extended reading written
// without a unit file: say so rather than print dots.
std::string TablePrinter::shown(const Row& row, std::size_t col, bool header) const {
    const String& text = row[col];
    if (col == 3 && !header && !text.empty() && text.find_first_not_of('\0') == String::npos) {
        return "(no name)";
    }
    return printable(text);
}

void TablePrinter::measure(const Row& row) {
    if (tsv_) return;
    for (std::size_t c = 0; c < row.size(); ++c) {
        width_[c] = std::max(width_[c], shown(row, c, &row == &kHeader).size());
    }
}

void TablePrinter::printLine(const Row& row, bool header) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
        if (tsv_) {
            if (c > 0) line += '\t';
            line += row[c];
            continue;
        }
        const std::string cell = shown(row, c, header);
        // Numbers line up on the right, text on the left.
        const bool right = c <= 1 || (c == 2 && !header && row[3] != "Time");
        const std::string pad(width_[c] - std::min(width_[c], cell.size()), ' ');
        line += c > 0 ? "  " : "";
        line += right ? pad + cell : cell + (c + 1 < row.size() ? pad : "");
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out_);
}

void TablePrinter::printHeader() {
    measure(kHeader);
    printLine(kHeader, true);
    if (tsv_) return;
    std::string rule;
    for (std::size_t c = 0; c < width_.size(); ++c) {
        rule += (c > 0 ? "  " : "") + std::string(width_[c], '-');
    }
    std::fprintf(out_, "%s\n", rule.c_str());
}

void TablePrinter::print(const Row& row) {
    printLine(row, false);
}

void printGrid(const DataGrid& grid, std::FILE* out, bool tsv) {
    const Long rows = grid.Rows();
    auto rowOf = [&](Long r) {
        TablePrinter::Row row;
        for (Long c = 0; c < std::min<Long>(grid.Cols(), 4); ++c) {
            row[static_cast<std::size_t>(c)] = grid.TextMatrix(r, c);
        }
        return row;
    };
    TablePrinter table(out, tsv);
    for (Long r = 1; r < rows; ++r) table.measure(rowOf(r));
    table.printHeader();
    for (Long r = 1; r < rows; ++r) table.print(rowOf(r));
    std::fflush(out);
    if (out == stdout) standardOutputFailed();  // while errno is the flush's
}

}  // namespace vantor::cli

namespace vantor::cli {

bool standardOutputFailed() {
    if (std::ferror(stdout) == 0) return false;
    if (outputErrno == 0) outputErrno = errno != 0 ? errno : ENOSPC;
    return true;
}

int finishStandardOutput(int status) {
    // A failed write leaves its bytes in the buffer: flushing tries them
    // again and so names the error when nothing else did.
    errno = 0;
    if (std::fflush(stdout) != 0 && outputErrno == 0) outputErrno = errno;
    standardOutputFailed();
    // A standard output closed from the start that took nothing is no failure.
    if (std::fclose(stdout) != 0 && outputErrno == 0 && errno != EBADF) {
        outputErrno = errno != 0 ? errno : ENOSPC;
    }
    if (outputErrno == 0 || status != kExitOk) return status;
    const RuntimeError e = fileError(outputErrno, "standard output", false);
    std::fprintf(stderr, "error %d: %s; the output there is incomplete%s\n", e.number(),
                 e.description().c_str(),
                 e.number() == kErrDiskFull ? " (make room, or send it elsewhere)" : "");
    return kExitFailure;
}

}  // namespace vantor::cli
